#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing.
# Sourced by run.sh and test.sh; runs apt-get as root or through sudo.
set -euo pipefail

# Dravolin.dll's cross builds and the Wine that tests the x64 one.
windows_packages=(
  gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 gcc-mingw-w64-i686 g++-mingw-w64-i686 binutils-mingw-w64
  wine wine64
)

dravolin_packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 coreutils strace
  dpkg-dev file desktop-file-utils libxml2-utils
  build-essential debhelper lintian appstream groff-base
  shared-mime-info xdg-utils libfile-mimeinfo-perl
  clang-format
  xvfb xdotool dbus-daemon at-spi2-core python3-pyatspi
  "${windows_packages[@]}"
)

# Without arguments, every package the project needs; else those named.
install_missing_packages() {
  local missing=() wanted=("$@")
  [ $# -gt 0 ] || wanted=("${dravolin_packages[@]}")
  for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures and builds one build folder, Release:
#   build_project DIR [TARGET...] [-- CMAKE_OPTION...]
# Without targets it builds everything the options enable.
build_project() {
  local dir=$1; shift
  local targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=(--target "$1"); shift; done
  [ $# -gt 0 ] && shift
  cmake -S "$project_root" -B "$project_root/$dir" -DCMAKE_BUILD_TYPE=Release "$@"
  cmake --build "$project_root/$dir" -j "$(nproc)" "${targets[@]}"
}

# Builds one folder as build_project does, then runs its tests headless.
test_build() {
  echo "=== $1 ==="
  build_project "$@"
  QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$project_root/$1" --output-on-failure
}

# Fails when a C or C++ file in the tree differs from what clang-format makes of it.
check_format() {
  echo "=== format ==="
  git -C "$project_root" ls-files '*.c' '*.cpp' '*.h' | (cd "$project_root" && xargs clang-format --dry-run --Werror)
}

project_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
