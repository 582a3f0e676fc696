#!/usr/bin/env bash
# Installs the project into a temporary prefix and builds its Debian packages, then checks what a
# user, a file manager and another program's build get. Writes only there and in the build folder.
# usage: package_test.sh BUILD_DIR SOURCE_DIR JOB_RUNNER
# (JOB_RUNNER --encode-once FILE runs the program's Mime64 job, its library search included.)
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) runner=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work XDG_CACHE_HOME=$work XDG_DATA_HOME=$work/none
export QT_QPA_PLATFORM=offscreen
unset XDG_CURRENT_DESKTOP LD_LIBRARY_PATH
passed=0 failed=0
check() { if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)) && echo "FAILED: $1"; fi; }
same() { [ "$1" = "$2" ] || { printf '  got:      %s\n  expected: %s\n' "$1" "$2" && return 1; }; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION) libdir=$(cache CMAKE_INSTALL_LIBDIR)
prefix=$work/prefix lib=$work/prefix/$libdir share=$work/prefix/share icons=share/icons/hicolor

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
sizes="16 24 32 48 64 128 256"
layout=$({
  printf '%s\n' bin/dravolin include/dravolin.h "$libdir"/{libdravolin.so,libdravolin.so.1,libdravolin.so.1.0.0} \
    "$libdir/pkgconfig/dravolin.pc" share/applications/dravolin.desktop share/mime/packages/dravolin.xml \
    "$icons/scalable/apps/dravolin.svg"
  for size in $sizes; do echo "$icons/${size}x$size/apps/dravolin.png"; done
} | sort)
check "the install lays out exactly these files" same "$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)" "$layout"
check "libdravolin.so -> .so.1 -> .so.1.0.0" same "$(readlink "$lib"/libdravolin.so{,.1} | xargs)" "libdravolin.so.1 libdravolin.so.1.0.0"
check "SONAME" same "$(readelf -d "$lib/libdravolin.so.1.0.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" libdravolin.so.1
check "no build RPATH installed" same "$(readelf -d "$prefix/bin/dravolin" "$lib/libdravolin.so.1.0.0" | grep PATH)" ""
check "the header is the source's" cmp "$prefix/include/dravolin.h" "$source/convlib/dravolin.h"
export PKG_CONFIG_PATH=$lib/pkgconfig
check "pkg-config" same "$(pkg-config --modversion dravolin) $(pkg-config --cflags --libs dravolin | xargs)" \
  "$version -I$prefix/include -L$lib -ldravolin"
desktop=$share/applications/dravolin.desktop
check "the menu entry is valid" desktop-file-validate "$desktop"
check "it opens one file with the program" same "$(sed -n 's/^Exec=//p' "$desktop")" "dravolin %f"
check "its icon is installed" test -f "$prefix/$icons/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg"
check "the SVG icon is well-formed" xmllint --noout "$prefix/$icons/scalable/apps/dravolin.svg"
for size in $sizes; do
  check "the ${size}px icon" same "$(file -b "$prefix/$icons/${size}x$size/apps/dravolin.png" | cut -d, -f1,2)" \
    "PNG image data, $size x $size"
done
timeout 3 "$prefix/bin/dravolin" 2> "$work/program.err" && status=0 || status=$?
check "the installed program starts and stays up" same "$status" 124
cp "$runner" "$prefix/bin/job_runner" && printf foobar > "$work/input.bin"
LD_DEBUG=files "$prefix/bin/job_runner" --encode-once "$work/input.bin" 2> "$work/runner.err" || true
mapped=$(sed -n 's/.*file=\([^ ]*libdravolin[^ ]*\) .*dynamically loaded.*/\1/p' "$work/runner.err" | head -1)
check "the program finds the library installed beside it" same "$(realpath -m "${mapped:-none}")" \
  "$(realpath "$lib/libdravolin.so.1.0.0")"
check "and its Mime64 job runs on it (RFC 4648)" cmp "$work/input.bin.m64" <(printf 'Zm9vYmFy\r\n')

# The file types: shared-mime-info ships its schema only as the DTD inside its own definitions.
sed -n '/^<!DOCTYPE mime-info \[/,/^\]>/p' /usr/share/mime/packages/freedesktop.org.xml | sed '1d;$d' > "$work/mime.dtd"
check "the file types follow shared-mime-info's DTD" xmllint --noout --dtdvalid "$work/mime.dtd" "$share/mime/packages/dravolin.xml"
export XDG_DATA_DIRS=$share
check "update-mime-database takes them silently" same "$(update-mime-database "$share/mime" 2>&1)" ""
touch "$work"/{name.m64,name.ptb,NAME.M64}
check "xdg-mime knows them" same "$(cd "$work" && for f in name.m64 name.ptb NAME.M64; do xdg-mime query filetype "$f"; done | xargs)" \
  "text/x-dravolin-mime64 text/x-dravolin-printable text/x-dravolin-mime64"
# xdg-mime retries a name in lower case by itself; GLib's file managers follow the database's flag.
check "their globs ignore case" same "$(grep ':cs' "$share/mime/globs2")" ""
check "both are plain text underneath" same "$(sort "$share/mime/subclasses" | xargs)" \
  "text/x-dravolin-mime64 text/plain text/x-dravolin-printable text/plain"
check "the Italian descriptions" same "$(cd "$work" && mimetype -b -d -l it name.m64 name.ptb | paste -sd/)" \
  "File codificato Mime64/File codificato Printable"
check "the menu entry takes exactly these types" same "$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | sed '/^$/d' | sort)" \
  "$(sort "$share/mime/types")"

# README.md's examples, compiled as it says against the installed library, print what it shows.
block() { awk -v marker="<!-- readme-$1: $2 -->" '$0 == marker {f = 1; next} f && /^```/ {if (f == 2) exit; f = 2; next} f == 2' "$source/README.md"; }
block example mime64.c > "$work/mime64.c" && block example printable.py > "$work/printable.py"
# shellcheck disable=SC2046 # the flags are words
cc -std=c11 -Wall -Wextra -Werror "$work/mime64.c" $(pkg-config --cflags --libs dravolin) -o "$work/mime64"
check "README marks both outputs" test -n "$(block output mime64.c)" -a -n "$(block output printable.py)"
check "README's C example" same "$(LD_LIBRARY_PATH=$lib "$work/mime64")" "$(block output mime64.c)"
check "README's Python example" same "$(LD_LIBRARY_PATH=$lib PYTHONIOENCODING=utf-8 python3 "$work/printable.py")" \
  "$(block output printable.py)"

(cd "$build" && cpack -G DEB -B "$work/debs" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log" && exit 1; }
runtime=$(ls "$work"/debs/dravolin_*.deb) dev=$(ls "$work"/debs/dravolin-dev_*.deb)
check "package versions" same "$(dpkg-deb -f "$runtime" Version) $(dpkg-deb -f "$dev" Version)" "$version $version"
check "dravolin-dev depends on this dravolin" same "$(dpkg-deb -f "$dev" Depends)" "dravolin (= $version)"
check "dravolin depends on Qt 6 and the C and C++ runtimes only" \
  same "$(dpkg-deb -f "$runtime" Depends | tr ',' '\n' | sed 's/(.*)//; s/ //g' | sort | xargs)" \
  "libc6 libgcc-s1 libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6"
check "dravolin recommends shared-mime-info" same "$(dpkg-deb -f "$runtime" Recommends)" shared-mime-info
contents() { dpkg-deb -c "$1" | awk '{print $6}' | grep -v '/$' | sed 's|^\./usr/||' | sort; }
dev_files=$(printf '%s\n' include/dravolin.h "$libdir/libdravolin.so" "$libdir/pkgconfig/dravolin.pc" | sort)
check "dravolin-dev holds the header, the link and dravolin.pc" same "$(contents "$dev")" "$dev_files"
check "dravolin holds the rest, and no MIME cache" same "$(contents "$runtime")" "$(comm -23 <(echo "$layout") <(echo "$dev_files"))"
dpkg-deb -e "$runtime" "$work/control"
check "it leaves the MIME database to Debian's trigger" same "$(grep -rl update-mime-database "$work/control")" ""
check "shlibs entry" same "$(cat "$work/control/shlibs")" "libdravolin 1 dravolin (>= $version)"
check "the packaged dravolin.pc names /usr" same "$(dpkg-deb --fsys-tarfile "$dev" | tar -xO "./usr/$libdir/pkgconfig/dravolin.pc" | sed -n 's/^prefix=//p')" /usr

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
