#!/usr/bin/env bash
# The program's Printable encoding driven from outside as a person drives it, on an X server
# that is already running ($DISPLAY): "Converti" in "Codifica Printable", Enter in the question
# box, the input's path typed into the open dialog and Enter, then the completion box answered.
# Per run: seconds from that Enter to the completion box, and the program's CPU seconds and
# minor faults over the same time, from /proc. Each run removes the output first.
#
#   bench/drive_window.sh FILE [RUNS]        DRAVOLIN=build/dravolin by default
#   With a screen reader's traffic: QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 dbus-run-session -- \
#     bash -c '/usr/bin/python3 bench/screen_reader_listener.py & sleep 2; bench/drive_window.sh FILE 5; kill %1'
set -euo pipefail
file=$(realpath "$1")
runs=${2:-1}
program=${DRAVOLIN:-$(dirname "$0")/../build/dravolin}
tick=$(getconf CLK_TCK)

"$program" &
pid=$!
trap 'kill $pid 2>/dev/null; rm -f "$file.ptb"' EXIT

cpuSeconds() { awk -v tick="$tick" '{ print ($14 + $15) / tick }' "/proc/$pid/stat"; }
minorFaults() { awk '{ print $10 }' "/proc/$pid/stat"; }
# The first visible window whose title matches, waited for.
windowNamed() {
  for _ in $(seq 3000); do
    local found
    found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
    [ -n "$found" ] && { echo "$found"; return; }
    sleep 0.005
  done
  echo "no window named $1" >&2
  exit 1
}

main=$(windowNamed 'Dravolin')
sleep 0.5
for run in $(seq "$runs"); do
  rm -f "$file.ptb"
  xdotool mousemove --window "$main" 94 205 click 1 # the Printable frame's "Converti"
  question=$(windowNamed '^Codifica Printable$')
  sleep 0.2
  xdotool windowfocus --sync "$question" key Return
  open=$(windowNamed '^Selezione del file')
  sleep 0.5
  xdotool windowfocus --sync "$open" type --delay 0 "$file"
  sleep 0.3
  cpu=$(cpuSeconds) faults=$(minorFaults) start=$(date +%s.%N)
  xdotool key Return
  done=$(windowNamed '^Conversione$')
  end=$(date +%s.%N)
  echo "run $run: $(echo "$end - $start" | bc) s, $(echo "$(cpuSeconds) - $cpu" | bc) CPU s," \
    "$(($(minorFaults) - faults)) minor faults"
  sleep 0.2
  xdotool windowfocus --sync "$done" key Return
  sleep 0.3
done
