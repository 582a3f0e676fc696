#!/usr/bin/env bash
# Installs what is missing, builds, and opens the window.
set -euo pipefail
source "$(dirname "$0")/tools/deps.sh"
install_missing_packages
build_project build
exec "$project_root/build/dravolin"
