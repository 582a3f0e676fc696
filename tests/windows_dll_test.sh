#!/usr/bin/env bash
# Dravolin.dll as Windows programs get it. The x64 build runs under wine64, headless, once per codec path this CPU
# runs, forced, the path that ran read from the debugger's output; a C caller linked through the import library runs
# too. The x86 build runs where the kernel and wine32 can; everywhere it is read from its file: the seven plain export
# names, each one's return removing 4 bytes per argument (stdcall), the imports. Both: only system DLLs imported, the
# version resource, no aligned vector move (GCC cannot realign the stack beyond 16 bytes on Windows).
# Usage: windows_dll_test.sh X86_BUILD X64_BUILD
set -uo pipefail
declare -A builds=([x86]=$1 [x64]=$2) objdump=([x86]=i686-w64-mingw32-objdump [x64]=x86_64-w64-mingw32-objdump)
declare -A argument_bytes=([AllocaTesto]=8 [LunghezzaTesto]=4 [LiberaTesto]=4 [ConvertiMime64]=12 [DecifraMime64]=12
  [ConvertiPrintable]=4 [DecifraPrintable]=4)
unset DISPLAY
export WINEDEBUG=-all
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# Runs a Windows program of one build in its own Wine prefix, in its folder, where it finds Dravolin.dll.
run() {
  local arch=$1 loader=/usr/lib/wine/wine64; shift
  [ "$arch" = x86 ] && loader=/usr/lib/wine/wine
  (cd "${builds[$arch]}" && WINEPREFIX=$PWD/wineprefix "$loader" "$@")
}

for arch in x64 x86; do
  if [ "$arch" = x86 ] && ! run x86 ./c_abi_test.exe > /dev/null 2>&1; then
    echo "x86: not run here (no wine32, or a kernel that runs no 32-bit programs); read from its file only"
    continue
  fi
  run "$arch" ./c_abi_test.exe || fail "$arch: c_abi_test"
  for path in $(run "$arch" ./windows_abi_test.exe --paths | tr -d '\r'); do
    start=$(date +%s%N)
    out=$(DRAVOLIN_CODEC=$path WINEDEBUG=-all,warn+debugstr run "$arch" ./windows_abi_test.exe 2>&1) || fail "$arch $path: $out"
    grep -q "Dravolin: codec $path\"" <<< "$out" || fail "$arch: $path forced, $(grep -o 'codec [a-z0-9]*' <<< "$out") ran"
    echo "$arch, path $path: $(tail -n 1 <<< "$out" | tr -d '\r') in $((($(date +%s%N) - start) / 1000000)) ms"
  done
done

for arch in x86 x64; do
  dll=${builds[$arch]}/Dravolin.dll
  headers=$(${objdump[$arch]} -p "$dll")
  declare -A address=()
  while read -r index rva; do address[$index]=$rva; done < <(sed -n 's/^\s*\[ *\([0-9]*\)\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1 \2/p' <<< "$headers")
  names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' <<< "$headers")
  [ "$(cut -d' ' -f2 <<< "$names" | sort)" = "$(printf '%s\n' "${!argument_bytes[@]}" | sort)" ] ||
    fail "$arch exports: $(cut -d' ' -f2 <<< "$names" | tr '\n' ' ')"
  image_base=$(awk '/^ImageBase/ {print $2}' <<< "$headers")
  while [ "$arch" = x86 ] && read -r index name; do
    start=$((0x$image_base + 0x${address[$index]}))
    ret=$(${objdump[$arch]} -d --no-show-raw-insn --start-address=$start --stop-address=$((start + 4096)) "$dll" |
      grep -m 1 -oE '\sret\s*\S*' | tr -d '[:space:]')
    [ "$ret" = "ret\$0x$(printf %x "${argument_bytes[$name]}")" ] || fail "x86 $name returns with $ret"
  done <<< "$names"
  imports=$(grep -o 'DLL Name: .*' <<< "$headers" | cut -d' ' -f3 | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
  [ "$imports" = "KERNEL32.DLL MSVCRT.DLL OLEAUT32.DLL " ] || fail "$arch imports $imports"
  strings -e l "$dll" | tr '\n' ' ' | grep -qE "FileVersion [0-9.]+ .*LegalCopyright .*MIT License .*ProductName Dravolin ProductVersion [0-9.]+" ||
    fail "$arch: no version resource"
  aligned=$(${objdump[$arch]} -d --no-show-raw-insn "$dll" | grep -cE '\sv?mov(dqa(32|64)?|ap[sd])\s')
  [ "$aligned" = 0 ] || fail "$arch: $aligned aligned vector moves"
  # The C caller built against the header and the import library binds the plain names in Dravolin.dll.
  ${objdump[$arch]} -p "${builds[$arch]}/c_abi_test.exe" | sed -n '/DLL Name: Dravolin.dll/,/^$/p' | grep -qw ConvertiMime64 ||
    fail "$arch: c_abi_test.exe does not import ConvertiMime64 from Dravolin.dll"
  echo "$arch: $(stat -c %s "$dll") bytes, exports and imports read"
done
exit $failed
