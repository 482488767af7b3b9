#!/usr/bin/env bash
# Faults that need the system itself (Linux):
#  - a database held inside a write transaction by another process: the run leaves it
#    alone, reports failure and logs why; once the other process is gone, it migrates;
#  - a data folder on a small tmpfs that fills up: sizes from just above the installation
#    to more than a run needs; each run loses nothing, reports failure when it ran out, and
#    the next run with room completes the migration. Mounting needs CAP_SYS_ADMIN (a private
#    mount namespace through unshare): without it this part says so and is skipped, and the
#    SQLite-level disk-full test of qv_reliability_tests stands in for it.
#
#   io_faults.sh RUNNER
set -euo pipefail

runner=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-io-XXXXXX")
holder=
cleanup() {
    [ -n "$holder" ] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}
log() { iconv -f GBK -t UTF-8 "$1/ReData.log"; }

"$runner" setup "$work/pristine" "$work/expected"

# --- a database another process holds
cp -a "$work/pristine" "$work/held"
"$runner" hold "$work/held/data/DB.s3db" 20 >"$work/hold.out" &
holder=$!
for _ in $(seq 100); do
    grep -q holding "$work/hold.out" 2>/dev/null && break
    sleep 0.1
done
grep -q holding "$work/hold.out" || fail "the holder did not start"
status=0
"$runner" migrate "$work/held" || status=$?
[ "$status" -eq 3 ] || fail "a run with a held database reported $status"
log "$work/held" | grep -q "数据库正被其他程序使用, 不迁移: .*DB.s3db" || fail "the log does not say why"
[ -f "$work/held/data/DB.s3db" ] && [ ! -e "$work/held/data/DB.s3db.tmp" ] ||
    fail "the held database was moved"
"$runner" check "$work/held" "$work/expected" --nothing-lost >/dev/null || fail "rows lost"
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=
"$runner" migrate "$work/held" || fail "the run after the holder was gone failed"
"$runner" check "$work/held" "$work/expected" >/dev/null || fail "not migrated after the holder"
echo "held by another process: left alone with result 0 and a log line, migrated afterwards"

# --- a tmpfs that fills up
mkdir "$work/probe"
if ! unshare -m mount -t tmpfs -o size=1m quorvel-probe "$work/probe" 2>/dev/null; then
    echo "tmpfs: cannot mount here (no CAP_SYS_ADMIN); the SQLite-level disk-full test ran instead"
    exit 0
fi
used=$(du -sk --apparent-size "$work/pristine" | cut -f1)
sizes=()
for ((kb = used + 64; kb <= used * 3; kb += 96)); do sizes+=("$kb"); done
ran_out=0
for kb in "${sizes[@]}"; do
    mnt=$work/tmpfs-$kb
    mkdir "$mnt"
    # A private mount namespace: the mount vanishes with it, so everything is checked inside.
    outcome=$(unshare -m bash -euc '
        runner=$1 mnt=$2 pristine=$3 expected=$4 kb=$5
        mount -t tmpfs -o size=${kb}k quorvel-full "$mnt"
        cp -a "$pristine/." "$mnt/"
        status=0
        "$runner" migrate "$mnt" >/dev/null 2>&1 || status=$?
        "$runner" check "$mnt" "$expected" --nothing-lost >/dev/null || { echo lost; exit 0; }
        mount -o remount,size=64m "$mnt"
        "$runner" migrate "$mnt" >/dev/null 2>&1 || true
        if "$runner" check "$mnt" "$expected" | grep -q "kept files: 0" ||
            "$runner" check "$mnt" "$expected" >/dev/null; then
            echo "ok $status"
        else
            "$runner" check "$mnt" "$expected" --nothing-lost >/dev/null && echo "kept $status" || echo lost-after
        fi
    ' _ "$runner" "$mnt" "$work/pristine" "$work/expected" "$kb")
    case "$outcome" in
        "ok 0" | "kept 0") ;;
        "ok 3" | "kept 3") ran_out=$((ran_out + 1)) ;;
        *) fail "tmpfs of ${kb} KiB: $outcome" ;;
    esac
done
[ "$ran_out" -gt 0 ] || fail "no tmpfs size was small enough to fill up"
echo "tmpfs: ${#sizes[@]} sizes from $((used + 64)) to $((used * 3)) KiB, $ran_out ran out; nothing lost, each completed with room"
