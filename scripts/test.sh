#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test of every preset.
# This is the one command CI runs (.ci/run); it works on a fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/packages.sh
ensure_packages cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev sqlite3

for preset in default asan; do
    echo "=== preset: $preset"
    cmake --workflow --preset "$preset"
done
echo "=== all tests passed"
