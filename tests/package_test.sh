#!/usr/bin/env bash
# Builds the Debian packages from a copy of the tree, unpacks them into a private root and checks what a user, a file
# manager, a software centre and another program's build get there, and that `cmake --install` lays out the same.
# usage: package_test.sh BUILD_DIR SOURCE_DIR JOB_RUNNER (job_helper: encode FILE runs the Mime64 job)
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) runner=$3 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work HOME=$work XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work XDG_CACHE_HOME=$work XDG_DATA_HOME=$work/none
export QT_QPA_PLATFORM=offscreen PYTHONIOENCODING=utf-8 && unset XDG_CURRENT_DESKTOP LD_LIBRARY_PATH
passed=0 failed=0
check() { if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)) && echo "FAILED: $1"; fi; }
same() { [ "$1" = "$2" ] || { printf '  got:      %s\n  expected: %s\n' "$1" "$2" && return 1; }; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION) multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
root=$work/root icons=share/icons/hicolor id=org.dravolin.dravolin sizes="16 24 32 48 64 128 256"
ma=lib/$multiarch lib=$root/usr/lib/$multiarch so=$root/usr/lib/$multiarch/libdravolin.so mime=$root/usr/share/mime
mapfile -t pngs < <(for s in $sizes; do echo "$icons/${s}x$s/apps/dravolin.png"; done)

# dpkg-buildpackage writes beside the tree and leaves files in it, so it builds a copy.
src=$work/src && mkdir "$src" && git -C "$source" ls-files -z -co --exclude-standard |
  tar -C "$source" --null -T - -cf - | tar -C "$src" -xf - && export DEB_BUILD_OPTIONS="parallel=$(nproc)"
(cd "$src" && dpkg-buildpackage -us -uc -b) > "$src.log" 2>&1 || { tail -40 "$src.log" && exit 1; }
check "lintian warns of nothing" lintian --fail-on warning "$work/dravolin_${version}_amd64.changes"
deb() { echo "$work/${1}_${version}_amd64.deb"; }
for package in dravolin libdravolin1 libdravolin-dev; do dpkg-deb -x "$(deb $package)" "$root"; done
contents() { dpkg-deb -c "$(deb "$1")" | awk '{print $6}' | grep -v -e '/$' -e /doc/ | cut -c7- | sort | xargs; }
check "libdravolin1 holds the library; libdravolin-dev the header, the link and dravolin.pc" same \
  "$(contents libdravolin1) / $(contents libdravolin-dev)" \
  "$ma/libdravolin.so.1 $ma/libdravolin.so.1.0.0 / include/dravolin.h $ma/libdravolin.so $ma/pkgconfig/dravolin.pc"
fields() { dpkg-deb -f "$(deb "$1")" Depends Recommends | sed 's/ (>=[^)]*)//g' | xargs; }
check "dravolin needs this libdravolin1 (it loads it), Qt 6, the C and C++ runtimes" same "$(fields dravolin)" \
  "Depends: libdravolin1 (= $version), libc6, libgcc-s1, libqt6core6, libqt6gui6, libqt6widgets6, libstdc++6\
 Recommends: qt6-translations-l10n, shared-mime-info"
# The symbols file lists the C ABI: the library exports it and nothing else.
check "the library exports exactly the symbols file" same "$(nm -D --defined-only "$so.1.0.0" | awk '{print $3}')" \
  "$(sed -n 's/^ \(.*\)@Base .*/\1/p' "$source/debian/libdravolin1.symbols" | sort)"
# The packages together, less Debian's documents, lay out what `cmake --install` does.
layout=$(printf '%s\n' bin/dravolin include/dravolin.h LIBDIR/libdravolin.so{,.1,.1.0.0} LIBDIR/pkgconfig/dravolin.pc \
  share/{applications/$id.desktop,metainfo/$id.metainfo.xml,mime/packages/dravolin.xml} share/man/{,it/}man1/dravolin.1 \
  "${pngs[@]}" "$icons/scalable/apps/dravolin.svg" | sort)
files() { (cd "$1" && find . ! -type d | cut -c3- | grep -v ^share/doc/ | sed "s|^$2/|LIBDIR/|; s/\.gz$//" | sort); }
check "the packages lay out exactly these files" same "$(files "$root/usr" "$ma")" "$layout"
cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
check "and so does cmake --install" same "$(files "$work/prefix" "$(cache CMAKE_INSTALL_LIBDIR)")" "$layout"

desktop=$root/usr/share/applications/$id.desktop && entry() { sed -n "s/^$1=//p" "$desktop"; }
check "the menu entry is valid" desktop-file-validate "$desktop"
check "it opens one file with the program, under its icon" same "$(entry Exec), $(entry Icon)" "dravolin %f, dravolin"
check "AppStream finds nothing to say, even pedantic" same \
  "$(appstreamcli validate-tree --no-net --pedantic --no-color "$root" 2>&1)" "✔ Validation was successful."
check "groff finds nothing to say of either manual page" same \
  "$(find "$root" -name dravolin.1.gz -exec sh -c 'zcat "$1" | groff -man -ww -z 2>&1' _ {} \;)" ""
timeout 3 "$root/usr/bin/dravolin" 2> "$work/program.err" && status=0 || status=$?
check "the installed program starts and stays up" same "$status" 124
# The program loads its library on first use: the runner does the same search, and the loader names the file.
cp "$runner" "$root/usr/bin/job_helper" && printf foobar > "$work/input.bin"
LD_DEBUG=files "$root/usr/bin/job_helper" encode "$work/input.bin" 2> "$work/runner.err" || true
mapped=$(sed -n 's/.*file=\([^ ]*libdravolin[^ ]*\) .*dynamically loaded.*/\1/p' "$work/runner.err" | head -1)
check "the program finds the library in the multiarch folder" same "$(realpath -m "${mapped:-none}")" "$so.1.0.0"
check "and its Mime64 job runs on it (RFC 4648)" cmp "$work/input.bin.m64" <(printf 'Zm9vYmFy\r\n')

# The file types. Debian's shared-mime-info ships no .xsd: its schema is the DTD in its own definitions.
sed -n '/^<!DOCTYPE mime-info \[/,/^\]>/p' /usr/share/mime/packages/freedesktop.org.xml | sed '1d;$d' > "$work/dtd"
check "they follow shared-mime-info's DTD" xmllint --noout --dtdvalid "$work/dtd" "$mime/packages/dravolin.xml"
export XDG_DATA_DIRS=$root/usr/share
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

# README.md's examples, built as it says against the unpacked library, print what it shows.
block() { sed -n "/^<!-- readme-$1: $2 -->$/,/^\`\`\`$/p" "$source/README.md" | sed '1,/^```/d;$d' | grep '' ||
  { echo "FAILED: README.md has no $1 marked $2" >&2 && return 1; }; }
for name in mime64.c printable.py; do block example $name > "$work/$name"; block output $name > "$work/$name.out"; done
export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$lib/pkgconfig
# shellcheck disable=SC2046 # the flags are words
cc -std=c11 -Wall -Wextra -Werror "$work/mime64.c" $(pkg-config --cflags --libs dravolin) -o "$work/mime64"
check "README's C example" diff <(LD_LIBRARY_PATH=$lib "$work/mime64") "$work/mime64.c.out"
check "README's Python example" diff <(LD_LIBRARY_PATH=$lib python3 "$work/printable.py") "$work/printable.py.out"
echo "$passed passed, $failed failed" && [ "$failed" -eq 0 ]
