#!/usr/bin/env bash
# Makes dravolin-<version>-windows.zip in build-windows/: Dravolin.dll cross-built for x86 and x64 Windows, each with
# its .def and import library, the header, the licence and the text for Windows programmers. Needs no Qt.
set -euo pipefail
source "$(dirname "$0")/deps.sh"
install_missing_packages cmake make g++ "${windows_packages[@]}"
build_project build-windows windows_zip -- -DDRAVOLIN_LIBRARY_ONLY=ON -DDRAVOLIN_WINDOWS=ON -DDRAVOLIN_BUILD_TESTS=OFF
