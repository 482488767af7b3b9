#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test of every preset:
# the two native ones, then the Windows cross build with its tests under Wine.
# This is the one command CI runs (.ci/run); it works on a fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/packages.sh
source scripts/lib/windows.sh

ensure_packages cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev librapidcheck-dev \
    sqlite3 python3 time \
    gcc-mingw-w64-i686 binutils-mingw-w64-i686

for preset in default asan; do
    echo "=== preset: $preset"
    cmake --workflow --preset "$preset"
done
if ! ctest --preset default -N -R '^qv_engine_property_tests$' | grep -q 'Total Tests: 1'; then
    echo "the generated-input test was not configured (RapidCheck missing?)" >&2
    exit 1
fi

echo "=== preset: windows"
start=$SECONDS
ensure_windows_tools
echo "--- tools ready after $((SECONDS - start)) s"
# The unit and end-to-end suites under Wine, `quorvel.exe /S` on temporary installations,
# the example installer (quorvel_e2e_Installer: built with makensis, run silently), the
# GUI check (quorvel_gui: the dialog under Xvfb, clicked through a migration, its
# screenshot in build/windows/tests/app/gui) and the package's contents.
cmake --workflow --preset windows
if ! ctest --preset windows -N -R '^quorvel_gui$' | grep -q 'Total Tests: 1'; then
    echo "the GUI check was not configured (Xvfb, xdotool or ImageMagick missing?)" >&2
    exit 1
fi
if ! ctest --preset windows -N -R '^quorvel_e2e_Installer$' | grep -q 'Total Tests: 1'; then
    echo "the installer test was not configured (makensis missing?)" >&2
    exit 1
fi
# Wine's server outlives the tests by a few seconds: let it finish writing its prefixes,
# so that nothing is left running in the build tree.
for prefix in build/windows/wine build/windows/wine-gui; do
    if [ -d "$prefix" ]; then
        WINEPREFIX=$PWD/$prefix wineserver -w
    fi
done
echo "--- windows leg: $((SECONDS - start)) s"

echo "=== fuzz: a short round (a real search: scripts/fuzz.sh 3600)"
./scripts/fuzz.sh 30
echo "=== all tests passed"
