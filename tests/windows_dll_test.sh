#!/usr/bin/env bash
# Dravolin.dll: the x64 C test under wine64, headless, on each codec path this CPU runs, forced and read back from the
# debugger's output (x86 where wine32 and the kernel can); from the files, the plain export names, stdcall returns,
# system imports only, the version resource, no aligned vector move. Usage: windows_dll_test.sh X86_BUILD X64_BUILD
set -uo pipefail
declare -A builds=([x86]=$1 [x64]=$2) loader=([x86]=/usr/lib/wine/wine [x64]=/usr/lib/wine/wine64) prefix=([x86]=i686
  [x64]=x86_64) argument_bytes=([AllocaTesto]=8 [LunghezzaTesto]=4 [LiberaTesto]=4 [ConvertiMime64]=12
  [DecifraMime64]=12 [ConvertiPrintable]=4 [DecifraPrintable]=4)
has() { for flag; do grep -m 1 '^flags' /proc/cpuinfo | grep -qw "$flag" || return 1; done; }
paths="scalar $(has avx2 bmi1 bmi2 && echo avx2) $(has avx512f avx512bw avx512vl avx512vbmi avx512_vbmi2 && echo avx512)"
failed=0
fail() { echo "FAILED: $*"; failed=1; }
for arch in x64 x86; do
  run() { (cd "${builds[$arch]}" && env -u DISPLAY WINEPREFIX=$PWD/wineprefix "${loader[$arch]}" ./c_abi_test.exe 2>&1); }
  if [ $arch = x86 ] && ! WINEDEBUG=-all run > /dev/null; then
    echo "x86: not run here (no wine32, or a kernel that runs no 32-bit programs); read from its file only"
  else
    for path in $paths; do
      start=$(date +%s%N) out=$(DRAVOLIN_CODEC=$path WINEDEBUG=-all,warn+debugstr run) || fail "$arch $path: $out"
      grep -q "Dravolin: codec $path\"" <<< "$out" || fail "$arch: $path forced, $(grep -o 'codec [a-z0-9]*' <<< "$out") ran"
      echo "$arch, path $path: $(tail -n 1 <<< "$out" | tr -d '\r') in $((($(date +%s%N) - start) / 1000000)) ms"
    done
  fi
  objdump=${prefix[$arch]}-w64-mingw32-objdump dll=${builds[$arch]}/Dravolin.dll
  headers=$($objdump -p "$dll")
  names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' <<< "$headers")
  [ "$(cut -d' ' -f2 <<< "$names" | sort)" = "$(printf '%s\n' "${!argument_bytes[@]}" | sort)" ] || fail "$arch exports: $names"
  rvas=($(sed -n 's/^\s*\[ *[0-9]*\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1/p' <<< "$headers"))
  while [ $arch = x86 ] && read -r ordinal name; do
    start=$((0x$(awk '/^ImageBase/ {print $2}' <<< "$headers") + 0x${rvas[$ordinal]}))
    ret=$($objdump -d --start-address=$start --stop-address=$((start + 4096)) "$dll" | grep -m 1 -oE '\sret\s*\S*')
    [ "$(tr -d '[:space:]' <<< "$ret")" = "ret\$0x$(printf %x "${argument_bytes[$name]}")" ] || fail "$name: $ret"
  done <<< "$names"
  imports=$(grep -o 'DLL Name: .*' <<< "$headers" | cut -d' ' -f3 | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
  [ "$imports" = "KERNEL32.DLL MSVCRT.DLL OLEAUT32.DLL " ] || fail "$arch imports $imports"
  strings -e l "$dll" | tr '\n' ' ' | grep -qE "FileVersion [0-9.]+ .*MIT License .*ProductName Dravolin ProductVersion" ||
    fail "$arch: no version resource"
  aligned=$($objdump -d "$dll" | grep -cE '\sv?mov(dqa(32|64)?|ap[sd])\s')
  [ "$aligned" = 0 ] || fail "$arch: $aligned aligned vector moves"
  echo "$arch: $(stat -c %s "$dll") bytes, exports and imports read"
done
exit $failed
