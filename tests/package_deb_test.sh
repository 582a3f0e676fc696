#!/usr/bin/env bash
# Builds the Debian packages with cpack, unpacks them, and checks what a
# Debian system would get: the control fields, the Depends line, which
# package holds which file, that the unpacked program starts, and that the
# program's library search from its unpacked folder finds the packaged
# library.
#
# usage: package_deb_test.sh BUILD_DIR JOB_RUNNER
# JOB_RUNNER: a binary whose --encode-once FILE runs the program's own
# Mime64 job, library search included, over FILE.
set -euo pipefail

build_dir=$(cd "$1" && pwd)
runner=$2
work=$(mktemp -d)
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/checks.sh"

(cd "$build_dir" && cpack -G DEB -B "$work/out" > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
# The library folder inside the package: lib, or lib/x86_64-linux-gnu when
# the build was configured for /usr on Debian.
libdir=usr/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
runtime_deb=$(ls "$work"/out/dravolin_*.deb)
dev_deb=$(ls "$work"/out/dravolin-dev_*.deb)

field() { dpkg-deb -f "$1" "$2"; }
version=$(field "$runtime_deb" Version)
check "runtime package name" same "$(field "$runtime_deb" Package)" dravolin
check "runtime package section" same "$(field "$runtime_deb" Section)" utils
check "dev package name" same "$(field "$dev_deb" Package)" dravolin-dev
check "both packages have the project's version" same "$version $(field "$dev_deb" Version)" "1.0.0 1.0.0"
check "maintainer is set" test -n "$(field "$runtime_deb" Maintainer)"
check "no homepage" same "$(field "$runtime_deb" Homepage)" ""
check "dev package depends on exactly this runtime" same "$(field "$dev_deb" Depends)" "dravolin (= $version)"

# The program links Qt 6 Widgets, Gui and Core and the C and C++ runtimes;
# the library only the latter. Nothing else may be asked of the system.
depends=$(field "$runtime_deb" Depends)
echo "Depends: $depends"
names=$(echo "$depends" | tr ',' '\n' | sed 's/(.*)//; s/ //g' | sort)
unexpected=$(echo "$names" | grep -v -x -E 'libqt6(core|gui|widgets)6|libc6|libgcc-s1|libstdc\+\+6' || true)
check "Depends names nothing but Qt 6 and the C/C++ runtimes" same "$unexpected" ""
qt=$(echo "$names" | grep -E '^libqt6' | xargs)
check "Depends names the three Qt 6 libraries the program links" same "$qt" "libqt6core6 libqt6gui6 libqt6widgets6"
check "Depends carries versions" test "$(echo "$depends" | grep -c 'libqt6widgets6 (>= 6')" -eq 1

dpkg-deb -e "$runtime_deb" "$work/control"
check "shlibs entry for packages built against the library" \
  same "$(cat "$work/control/shlibs")" "libdravolin 1 dravolin (>= $version)"

# Debian's split: the runtime package has what running needs, -dev the rest.
contents() { dpkg-deb -c "$1" | awk '{print $6}' | grep -v '/$' | sed 's|^\./||' | sort | xargs; }
runtime_files=$(contents "$runtime_deb")
dev_files=$(contents "$dev_deb")
for file in usr/bin/dravolin $libdir/libdravolin.so.1 $libdir/libdravolin.so.1.0.0 \
    usr/share/applications/dravolin.desktop usr/share/icons/hicolor/scalable/apps/dravolin.svg \
    usr/share/icons/hicolor/16x16/apps/dravolin.png usr/share/icons/hicolor/32x32/apps/dravolin.png \
    usr/share/icons/hicolor/48x48/apps/dravolin.png; do
  check "runtime package holds $file" grep -q -w -F "$file" <<< "$runtime_files"
done
check "dev package holds exactly the header, the link and dravolin.pc" same "$dev_files" \
  "usr/include/dravolin.h $libdir/libdravolin.so $libdir/pkgconfig/dravolin.pc"

root=$work/root
dpkg-deb -x "$runtime_deb" "$root"
dpkg-deb -x "$dev_deb" "$root"
check "packaged dravolin.pc names /usr" same "$(sed -n 's/^prefix=//p' "$root/$libdir/pkgconfig/dravolin.pc")" /usr

# The unpacked program starts headless and stays up until it is stopped.
QT_QPA_PLATFORM=offscreen env -u LD_LIBRARY_PATH "$root/usr/bin/dravolin" 2> "$work/program.err" &
program_pid=$!
sleep 2
if kill -0 "$program_pid" 2>/dev/null; then
  passed=$((passed + 1))
  kill "$program_pid"
  wait "$program_pid" 2>/dev/null || true
else
  failed=$((failed + 1))
  echo "FAILED: the unpacked program did not stay up for 2 s"
  cat "$work/program.err"
fi
program_pid=

# The program loads its library on first use, so a binary running the same
# job and search code stands beside it; the loader says which file it mapped.
cp "$runner" "$root/usr/bin/job_runner"
printf foobar > "$work/input.bin"
QT_QPA_PLATFORM=offscreen LD_DEBUG=files env -u LD_LIBRARY_PATH "$root/usr/bin/job_runner" --encode-once "$work/input.bin" \
  2> "$work/runner.err" || { failed=$((failed + 1)); echo "FAILED: the job from usr/bin did not complete"; }
mapped=$(sed -n 's/.*file=\([^ ]*libdravolin[^ ]*\) .*dynamically loaded.*/\1/p' "$work/runner.err" | head -1)
check "the search from usr/bin finds the packaged libdravolin.so.1" \
  same "$(realpath -m "${mapped:-none}")" "$(realpath "$root/$libdir/libdravolin.so.1.0.0")"
# RFC 4648 section 10, in a line of its own ended by CR LF.
check "the job ran on it" cmp "$work/input.bin.m64" <(printf 'Zm9vYmFy\r\n')

# A program built against the unpacked -dev files runs on the unpacked library.
cat > "$work/client.c" <<'EOF'
#include <dravolin.h>
#include <stdio.h>
int main(void)
{
    /* RFC 4648 section 10: "fo" is "Zm8=". */
    Testo text = ConvertiMime64((const uint8_t *)"fo", 2, 0);
    if (text == NULL)
        return 1;
    fwrite(text, 1, (size_t)LunghezzaTesto(text), stdout);
    LiberaTesto(text);
    return 0;
}
EOF
cc -std=c11 -Wall -Werror -I "$root/usr/include" "$work/client.c" -L "$root/$libdir" -ldravolin -o "$work/client"
check "the client needs libdravolin.so.1" \
  same "$(readelf -d "$work/client" | sed -n 's/.*(NEEDED).*\[\(libdravolin[^]]*\)\]/\1/p')" libdravolin.so.1
check "the client runs on the packaged library" same "$(LD_LIBRARY_PATH=$root/$libdir "$work/client")" "Zm8="

report
