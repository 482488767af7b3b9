#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": Clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one on its committed corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#       Runs the targets (default: every fuzz/*_fuzzer.cpp) for SECONDS in all (default
#       60), shared evenly. CI runs a short round; a real search takes longer:
#           scripts/fuzz.sh 3600
#   scripts/fuzz.sh --merge [TARGET...]
#       Folds what earlier runs found into the committed corpora and minimizes them: the
#       fewest inputs that reach all the code the corpus and the finds reach.
#
# New inputs collect in build/fuzz/corpus/<target>, logs in build/fuzz/logs, and a crash
# leaves its input in build/fuzz/artifacts/<target>/ (replay it: build/fuzz/fuzz/<target>
# FILE). Exits with 1 when a target crashes, leaks or hangs.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/packages.sh
ensure_packages cmake ninja-build clang libclang-rt-dev pkg-config libsqlite3-dev

merge=0
seconds=60
if [ "${1:-}" = --merge ]; then
    merge=1
    shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    for source in fuzz/*_fuzzer.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

out=build/fuzz
mkdir -p "$out/logs"
each=$((seconds / ${#targets[@]}))
[ "$each" -ge 1 ] || each=1
status=0
for target in "${targets[@]}"; do
    binary=$out/fuzz/$target
    corpus=fuzz/corpus/$target
    work=$out/corpus/$target
    artifacts=$out/artifacts/$target/
    mkdir -p "$corpus" "$work" "$artifacts"
    seeds=()
    if [ -f "fuzz/$target.seeds" ]; then
        while IFS= read -r seed; do
            [ -n "$seed" ] && seeds+=("$seed")
        done <"fuzz/$target.seeds"
    fi
    options=(-rss_limit_mb=2048 -timeout=10 "-artifact_prefix=$artifacts")
    [ -f "fuzz/$target.dict" ] && options+=("-dict=fuzz/$target.dict")

    if [ "$merge" -eq 1 ]; then
        # Into an empty folder, counting edges only (not how often they run): the smallest
        # set that reaches everything the corpus and the new finds reach.
        merged=$out/merged/$target
        rm -rf "$merged"
        mkdir -p "$merged"
        echo "=== $target: merging $work into $corpus"
        "$binary" "${options[@]}" -merge=1 -use_counters=0 "$merged" "$corpus" "$work" \
            >"$out/logs/$target.merge.log" 2>&1
        find "$corpus" -type f -delete
        cp "$merged"/* "$corpus"/
        echo "$(find "$corpus" -type f | wc -l) inputs in $corpus"
        continue
    fi

    echo "=== $target: ${each}s"
    log=$out/logs/$target.log
    # The first folder receives new inputs; the committed ones are only read.
    if "$binary" "${options[@]}" -max_total_time="$each" -print_final_stats=1 \
        "$work" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
        runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
        rate=$(grep -oE 'stat::average_exec_per_sec: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
        cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n 1 || true)
        echo "ok: ${runs:-?} executions (${rate:-?}/s), ${cov:-cov: ?}, $(find "$work" -type f | wc -l) inputs found so far in $work"
    else
        status=1
        echo "FAILED: $target (log: $log)"
        grep -E -A 30 '^==[0-9]+==|SUMMARY|deadly signal|Test unit written' "$log" | head -n 60 || tail -n 40 "$log"
    fi
done
exit "$status"
