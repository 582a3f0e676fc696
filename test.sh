#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
set -euo pipefail
source "$(dirname "$0")/tools/deps.sh"
install_missing_packages
build_project build -DDRAVOLIN_WERROR=ON
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$project_root/build" --output-on-failure
