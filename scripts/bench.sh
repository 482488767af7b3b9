#!/usr/bin/env bash
# Benchmark of large migrations: builds quorvel, generates installations of 100, 300 and
# 1000 MiB (three databases, 38 tables, up to 5.4 million rows, cached in build/bench),
# and times four ways of migrating each on the same files: (a) quorvel -S, (b) the sqlite3
# shell running the same statements, (c) VACUUM INTO, (d) cp. Then a script of 10,000 more
# items on the smallest installation. Writes the figures as JSON and a PNG plot of time
# against size to bench/results/ and prints a table with the ratios a/b, a/c, a/d.
#
#   scripts/bench.sh            the full run (about 6 minutes, 8 the first time)
#   scripts/bench.sh --quick    20 MiB only, into build/bench/quick/ (under a minute)
#   scripts/bench.sh [--quick] -- [run.py options]      e.g. -- --reps 5 --sizes 300
#
# Installs what is missing (Debian packages). The machine should be otherwise idle: the
# methods are interleaved and the medians reported, but a busy disk or CPU still shows.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
extra=()
while [ $# -gt 0 ]; do
    case $1 in
        --quick) quick=1; shift ;;
        --) shift; extra=("$@"); break ;;
        *) echo "usage: $0 [--quick] [-- run.py options]" >&2; exit 2 ;;
    esac
done

source scripts/lib/packages.sh
packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev sqlite3 python3 time)
[ "$quick" -eq 1 ] || packages+=(python3-matplotlib)
ensure_packages "${packages[@]}"

echo "=== building quorvel and dbrtool (preset default)"
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target quorvel dbrtool | tail -n 1

# Debian's python3, whatever python3 comes first on PATH: its matplotlib is the package's.
run=(/usr/bin/python3 bench/run.py
    --quorvel build/default/src/app/quorvel
    --dbrtool build/default/tools/dbrtool/dbrtool
    --vennic examples/demo/vennic.exe
    --work build/bench)

if [ "$quick" -eq 1 ]; then
    out=build/bench/quick
    mkdir -p "$out"
    "${run[@]}" --sizes 20 --reps 3 --json "$out/sizes.json" "${extra[@]}"
    exit
fi

out=bench/results
mkdir -p "$out"
echo "=== sizes: 100, 300 and 1000 MiB"
"${run[@]}" --sizes 100,300,1000 --reps 5 --json "$out/sizes.json" --plot "$out/sizes.png" \
    "${extra[@]}"
echo "=== a script of 10,000 more items, 20 MiB"
"${run[@]}" --sizes 20 --extra-items 0,10000 --methods ab --reps 3 \
    --json "$out/script-items.json" "${extra[@]}"
echo "=== reading a 10,000-item script (bench/script_load)"
cmake --build --preset default --target script_load | tail -n 1
build/default/bench/script_load 10000 50 5 | tee "$out/script-load.txt"
