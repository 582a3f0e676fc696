#!/usr/bin/env bash
# Installs the built project into a temporary prefix and checks what a user
# and another program's build get there: the layout, the library's SONAME
# and links, the pkg-config file, the menu entry and the icons.
#
# usage: package_install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

source "$(dirname "$0")/checks.sh"

cmake --install "$build_dir" --prefix "$prefix" > "$work/install.log"

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
case $libdir in
  lib | lib/x86_64-linux-gnu) ;;
  *) echo "unexpected library folder '$libdir'"; exit 1 ;;
esac
lib=$prefix/$libdir

# The program, the header as written, and nothing of the build left in them.
check "bin/dravolin is an executable file" test -f "$prefix/bin/dravolin" -a -x "$prefix/bin/dravolin"
check "include/dravolin.h is the source header" cmp -s "$prefix/include/dravolin.h" "$source_dir/convlib/dravolin.h"
runpaths() { readelf -d "$1" | grep -E 'RPATH|RUNPATH' || true; }
check "installed program carries no build RPATH" same "$(runpaths "$prefix/bin/dravolin")" ""
check "installed library carries no RPATH" same "$(runpaths "$lib/libdravolin.so.1.0.0")" ""

# The usual shared-library chain: the real file, the SONAME link the loader
# uses, and the development link the linker uses.
check "libdravolin.so.1.0.0 is a regular file" test -f "$lib/libdravolin.so.1.0.0" -a ! -L "$lib/libdravolin.so.1.0.0"
check "libdravolin.so.1 links to libdravolin.so.1.0.0" same "$(readlink "$lib/libdravolin.so.1")" libdravolin.so.1.0.0
check "libdravolin.so links to libdravolin.so.1" same "$(readlink "$lib/libdravolin.so")" libdravolin.so.1
soname=$(readelf -d "$lib/libdravolin.so.1.0.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
check "SONAME is libdravolin.so.1" same "$soname" libdravolin.so.1

# pkg-config finds the prefix the files landed in.
export PKG_CONFIG_PATH=$lib/pkgconfig
check "pkg-config --modversion" same "$(pkg-config --modversion dravolin)" 1.0.0
check "pkg-config --cflags" same "$(pkg-config --cflags dravolin | xargs)" "-I$prefix/include"
check "pkg-config --libs" same "$(pkg-config --libs dravolin | xargs)" "-L$lib -ldravolin"

# A program built with those flags needs the SONAME and runs on the
# installed library. "a=b" is "a=3Db" in quoted-printable (RFC 2045 6.7).
cat > "$work/client.c" <<'EOF'
#include <dravolin.h>
#include <stdio.h>
#include <string.h>
int main(void)
{
    Testo plain = AllocaTesto("a=b", 3);
    Testo printable = ConvertiPrintable(plain);
    if (plain == NULL || printable == NULL)
        return 1;
    fwrite(printable, 1, (size_t)LunghezzaTesto(printable), stdout);
    LiberaTesto(printable);
    LiberaTesto(plain);
    return 0;
}
EOF
# shellcheck disable=SC2046 # the flags are words
cc -std=c11 -Wall -Werror "$work/client.c" $(pkg-config --cflags --libs dravolin) -o "$work/client"
needed=$(readelf -d "$work/client" | sed -n 's/.*(NEEDED).*\[\(libdravolin[^]]*\)\]/\1/p')
check "a client needs libdravolin.so.1" same "$needed" libdravolin.so.1
resolved=$(LD_LIBRARY_PATH=$lib ldd "$work/client" | sed -n 's/.*libdravolin.so.1 => \([^ ]*\).*/\1/p')
check "the client resolves the installed library" same "$resolved" "$lib/libdravolin.so.1"
check "the client converts through it" same "$(LD_LIBRARY_PATH=$lib "$work/client")" "a=3Db"

# The menu entry: valid, and naming the installed program and icon.
desktop=$prefix/share/applications/dravolin.desktop
check "dravolin.desktop is valid" desktop-file-validate "$desktop"
entry() { sed -n "s/^$1=//p" "$desktop"; }
check "Exec names the program" same "$(entry Exec)" dravolin
check "Icon names the icon" same "$(entry Icon)" dravolin
check "Categories" same "$(entry Categories)" "Utility;"
check "Name and Comment are set" test -n "$(entry Name)" -a -n "$(entry Comment)"

# The icon, in the hicolor theme under the name the entry uses.
icons=$prefix/share/icons/hicolor
check "scalable icon is well-formed SVG" xmllint --noout "$icons/scalable/apps/dravolin.svg"
png_size() { # width x height from the PNG header (IHDR)
  python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"
}
for size in 16 24 32 48 64 128 256; do
  check "${size}px icon has its size" same "$(png_size "$icons/${size}x${size}/apps/dravolin.png")" "${size}x${size}"
done

report
