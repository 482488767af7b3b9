#!/usr/bin/env bash
# Two runs of one installation at once, for real, many times: an installer that runs
# quorvel while the user double-clicks it, or an installer started twice. Whatever the
# interleaving, the second run waits for the first and then finds nothing left to do; every
# row of every table ends in the migrated databases, every database at the script's version
# (so recorded only over a complete database), and nothing else is left.
#
#   concurrent_runs.sh RUNNER [TRIES]
set -euo pipefail

runner=$(realpath "$1")
tries=${2:-40}
root=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && root=/dev/shm
work=$(mktemp -d "$root/quorvel-twice-XXXXXX")
trap 'rm -rf "$work"' EXIT

"$runner" setup "$work/pristine" "$work/expected"
both_succeeded=0
for ((try = 1; try <= tries; try++)); do
    rm -rf "$work/run"
    cp -a "$work/pristine" "$work/run"
    "$runner" migrate "$work/run" >/dev/null 2>&1 &
    first=$!
    # 0 to 20 ms apart.
    sleep "0.0$((RANDOM % 21 / 10))$((RANDOM % 10))"
    status2=0
    "$runner" migrate "$work/run" >/dev/null 2>&1 || status2=$?
    status1=0
    wait "$first" || status1=$?
    if ! report=$("$runner" check "$work/run" "$work/expected"); then
        echo "try $try: the runs exited with $status1 and $status2; check:"
        echo "$report"
        find "$work/run" | sort
        exit 1
    fi
    # One of them migrated; the other found every database up to date (3: not success).
    if [ $((status1 + status2)) -ne 3 ]; then
        echo "try $try: the runs exited with $status1 and $status2, expected 0 and 3"
        exit 1
    fi
done
echo "two runs at once, $tries times: every row kept, every database migrated once"
