#!/usr/bin/env bash
# Takes the pictures of the Windows program's dialog that the README shows
# (docs/dialog.png, idle, and docs/dialog-migrating.png, during a migration): builds the
# Windows preset when needed, then runs the GUI check, which starts quorvel.exe under Xvfb
# in a Wine virtual desktop and saves the dialog as Wine draws it (Chinese texts in
# WenQuanYi Micro Hei, which Wine takes for "宋体").
#
#   scripts/screenshot.sh [OUTPUT.png]      default docs/dialog.png; the second picture
#                                           goes beside it, as OUTPUT-migrating.png
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-docs/dialog.png}")

source scripts/lib/packages.sh
source scripts/lib/windows.sh
ensure_packages cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev sqlite3 python3
ensure_windows_tools

cmake --preset windows >/dev/null
cmake --build --preset windows
mkdir -p "$(dirname "$output")"
QUORVEL_GUI_SCREENSHOT=$output ctest --preset windows -R '^quorvel_gui$' --output-on-failure
echo "dialog: $output and ${output%.png}-migrating.png"
