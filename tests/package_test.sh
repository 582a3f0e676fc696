#!/usr/bin/env bash
# Installs into a temporary folder and packs the .debs there, then checks what a user, a file manager and another
# program's build get. usage: package_test.sh BUILD_DIR SOURCE_DIR JOB_RUNNER (job_helper: encode FILE runs the Mime64 job)
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) runner=$3 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work HOME=$work XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work XDG_CACHE_HOME=$work XDG_DATA_HOME=$work/none
export QT_QPA_PLATFORM=offscreen PYTHONIOENCODING=utf-8 && unset XDG_CURRENT_DESKTOP LD_LIBRARY_PATH
passed=0 failed=0
check() { if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)) && echo "FAILED: $1"; fi; }
same() { [ "$1" = "$2" ] || { printf '  got:      %s\n  expected: %s\n' "$1" "$2" && return 1; }; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION) libdir=$(cache CMAKE_INSTALL_LIBDIR) icons=share/icons/hicolor
prefix=$work/prefix lib=$work/prefix/$libdir so=$work/prefix/$libdir/libdravolin.so mime=$work/prefix/share/mime
export PKG_CONFIG_PATH=$lib/pkgconfig
sizes="16 24 32 48 64 128 256" && mapfile -t pngs < <(for s in $sizes; do echo "$icons/${s}x$s/apps/dravolin.png"; done)

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
layout=$(printf '%s\n' bin/dravolin include/dravolin.h "$libdir"/libdravolin.so{,.1,.1.0.0} \
  "$libdir/pkgconfig/dravolin.pc" share/{applications/dravolin.desktop,mime/packages/dravolin.xml} "${pngs[@]}" \
  "$icons/scalable/apps/dravolin.svg" | sort)
check "the install lays out exactly these files" same "$(cd "$prefix" && find . ! -type d | cut -c3- | sort)" "$layout"
check "the library's links" same "$(readlink "$so" "$so.1" | xargs)" "libdravolin.so.1 libdravolin.so.1.0.0"
check "SONAME" same "$(readelf -d "$so.1.0.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" libdravolin.so.1
desktop=$prefix/share/applications/dravolin.desktop
entry() { sed -n "s/^$1=//p" "$desktop"; }
check "the menu entry is valid" desktop-file-validate "$desktop"
check "it opens one file with the program" same "$(entry Exec)" "dravolin %f"
check "its icon is installed, well-formed" xmllint --noout "$prefix/$icons/scalable/apps/$(entry Icon).svg"
check "the PNG icons' sizes" same "$(cd "$prefix" && file -b "${pngs[@]}" | cut -d, -f2 | xargs)" \
  "$(for s in $sizes; do echo "$s x $s"; done | xargs)"
timeout 3 "$prefix/bin/dravolin" 2> "$work/program.err" && status=0 || status=$?
check "the installed program starts and stays up" same "$status" 124
# The program loads its library on first use: the runner does the same search, and the loader names the file.
cp "$runner" "$prefix/bin/job_helper" && printf foobar > "$work/input.bin"
LD_DEBUG=files "$prefix/bin/job_helper" encode "$work/input.bin" 2> "$work/runner.err" || true
mapped=$(sed -n 's/.*file=\([^ ]*libdravolin[^ ]*\) .*dynamically loaded.*/\1/p' "$work/runner.err" | head -1)
check "the program finds the library beside it" same "$(realpath -m "${mapped:-none}")" "$(realpath "$so.1.0.0")"
check "and its Mime64 job runs on it (RFC 4648)" cmp "$work/input.bin.m64" <(printf 'Zm9vYmFy\r\n')

# The file types. Debian's shared-mime-info ships no .xsd: its schema is the DTD in its own definitions.
sed -n '/^<!DOCTYPE mime-info \[/,/^\]>/p' /usr/share/mime/packages/freedesktop.org.xml | sed '1d;$d' > "$work/dtd"
check "they follow shared-mime-info's DTD" xmllint --noout --dtdvalid "$work/dtd" "$mime/packages/dravolin.xml"
export XDG_DATA_DIRS=$prefix/share
check "update-mime-database takes them silently" same "$(update-mime-database "$mime" 2>&1)" ""
touch "$work"/{name.m64,name.ptb,NAME.M64} && t=text/x-dravolin
check "xdg-mime knows them" same "$(for f in name.{m64,ptb} NAME.M64; do xdg-mime query filetype "$work/$f"; done)" \
  "$(printf '%s\n' "$t-mime64" "$t-printable" "$t-mime64")"
# xdg-mime retries a name in lower case by itself; GLib's file managers follow the database's flag.
check "their globs ignore case" same "$(grep ':cs' "$mime/globs2")" ""
check "both are plain text" same "$(sort "$mime/subclasses" | xargs)" "$t-mime64 text/plain $t-printable text/plain"
check "Italian descriptions" same "$(mimetype -b -d -l it "$work"/name.{m64,ptb} | paste -sd/)" \
  "File codificato Mime64/File codificato Printable"
check "the menu entry takes these types" same "$(entry MimeType | tr ';' ' ' | xargs)" "$(xargs < "$mime/types")"

# README.md's examples, compiled as it says against the installed library, print what it shows.
block() { sed -n "/^<!-- readme-$1: $2 -->$/,/^\`\`\`$/p" "$source/README.md" | sed '1,/^```/d;$d' | grep '' ||
  { echo "FAILED: README.md has no $1 marked $2" >&2 && return 1; }; }
for name in mime64.c printable.py; do block example $name > "$work/$name"; block output $name > "$work/$name.out"; done
# shellcheck disable=SC2046 # the flags are words
cc -std=c11 -Wall -Wextra -Werror "$work/mime64.c" $(pkg-config --cflags --libs dravolin) -o "$work/mime64"
check "README's C example" diff <(LD_LIBRARY_PATH=$lib "$work/mime64") "$work/mime64.c.out"
check "README's Python example" diff <(LD_LIBRARY_PATH=$lib python3 "$work/printable.py") "$work/printable.py.out"

(cd "$build" && cpack -G DEB -B "$work/debs" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log" && exit 1; }
runtime=$(ls "$work"/debs/dravolin_*.deb) dev=$(ls "$work"/debs/dravolin-dev_*.deb)
field() { dpkg-deb -f "$1" "$2" | sed 's/ ([^)]*)//g'; }
check "the version, and dravolin-dev needs this dravolin" \
  same "$(dpkg-deb -f "$runtime" Version), $(dpkg-deb -f "$dev" Depends)" "$version, dravolin (= $version)"
check "dravolin depends on Qt 6 and the C and C++ runtimes only" same "$(field "$runtime" Depends)" \
  "libc6, libgcc-s1, libqt6core6, libqt6gui6, libqt6widgets6, libstdc++6"
check "it recommends shared-mime-info" same "$(field "$runtime" Recommends)" shared-mime-info
contents() { dpkg-deb -c "$1" | awk '{print $6}' | grep -v '/$' | cut -c7- | sort; }
dev_files=$(printf '%s\n' include/dravolin.h "$libdir"/{libdravolin.so,pkgconfig/dravolin.pc} | sort)
check "dravolin-dev holds the header, the link and dravolin.pc" same "$(contents "$dev")" "$dev_files"
check "dravolin: the rest, no cache" same "$(contents "$runtime")" "$(comm -23 <(echo "$layout") - <<< "$dev_files")"
dpkg-deb -e "$runtime" "$work/control" && dpkg-deb -x "$dev" "$work/root" && pc=$work/root/usr/$libdir/pkgconfig
check "it leaves the MIME database to Debian's trigger" same "$(grep -rl update-mime-database "$work/control")" ""
check "shlibs entry" same "$(cat "$work/control/shlibs")" "libdravolin 1 dravolin (>= $version)"
check "packaged dravolin.pc names /usr" same "$(sed -n 's/^prefix=//p' "$pc/dravolin.pc")" /usr
echo "$passed passed, $failed failed" && [ "$failed" -eq 0 ]
