#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test of every preset.
# This is the one command CI runs (.ci/run); it works on a fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/packages.sh
ensure_packages cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev sqlite3 \
    gcc-mingw-w64-i686 binutils-mingw-w64-i686

for preset in default asan; do
    echo "=== preset: $preset"
    cmake --workflow --preset "$preset"
done
echo "=== fuzz: a short round (a real search: scripts/fuzz.sh 3600)"
./scripts/fuzz.sh 30
echo "=== all tests passed"
