#!/usr/bin/env bash
# Kills a real migration at many points and checks that the next run loses nothing.
#
#   kill_sweep.sh RUNNER SHIM [STRIDE] [--double]
#
# RUNNER is migrate_runner, SHIM the kill_shim library. A first run through the shim
# counts the system calls that change a file; then, for every STRIDE-th of them (default:
# every one), a fresh copy of the installation is migrated and killed with SIGKILL just
# before that call. Before anything runs again, the installation is looked at as a client
# started then would see it: every database path opens (a hot journal rolled back) and holds
# its whole old database or its whole new one. Then it is migrated again without the shim,
# and checked: every row of every
# original table is in the migrated databases (content digests of the columns that
# survive), every database is at the script's version, every data statement ran once, and
# nothing is left but the databases and the documented ".partial" / ".bak" files. With
# --double the second run is killed too, at a point taken from the first, before a third,
# clean run.
#
# Work folders go to /dev/shm when it is there (syncs cost nothing on tmpfs and the sweep
# is about what a killed process leaves, not what a power cut loses), else to $TMPDIR.
set -euo pipefail

runner=$1
shim=$2
stride=${3:-1}
double=0
[ "${4:-}" = --double ] && double=1

root=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && root=/dev/shm
work=$(mktemp -d "$root/quorvel-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT

"$runner" setup "$work/pristine" "$work/expected"

# The length of a whole run, in counted calls; it must also pass the check by itself.
cp -a "$work/pristine" "$work/run"
QV_KILL_COUNT_FILE=$work/count LD_PRELOAD=$shim "$runner" migrate "$work/run"
"$runner" check "$work/run" "$work/expected" >/dev/null
total=$(cat "$work/count")

# What a client started now would find; a copy, so that the client's own reads (which roll
# back a hot journal) change nothing the next run sees.
client_view() {
    rm -rf "$work/client"
    cp -a "$work/run" "$work/client"
    if ! report=$("$runner" client-view "$work/client" "$work/expected"); then
        echo "kill point $1 of $total: a client would find a database that is neither old nor new:"
        echo "$report"
        find "$work/run" | sort
        cp -a "$work/run" "$root/quorvel-kill-failed-client" && echo "kept in $root/quorvel-kill-failed-client"
        exit 1
    fi
}

tried=0
killed=0
partial=0
succeeded=0
for ((point = 1; point <= total; point += stride)); do
    rm -rf "$work/run"
    cp -a "$work/pristine" "$work/run"
    status=0
    # In a subshell, so that the shell's "Killed" notice goes nowhere either.
    (QV_KILL_AT=$point LD_PRELOAD=$shim "$runner" migrate "$work/run"; exit $?) >/dev/null 2>&1 || status=$?
    tried=$((tried + 1))
    [ "$status" -eq 137 ] && killed=$((killed + 1))
    client_view "$point"
    if [ "$double" -eq 1 ]; then
        second=$(( (point * 7919) % total + 1 ))
        (QV_KILL_AT=$second LD_PRELOAD=$shim "$runner" migrate "$work/run"; exit $?) >/dev/null 2>&1 || true
        client_view "$point, then $second"
    fi
    # The next run reports success, or failure when a run killed after its last step
    # left it nothing to do (an up-to-date installation): the check decides.
    resumed=0
    "$runner" migrate "$work/run" >/dev/null 2>&1 || resumed=$?
    [ "$resumed" -eq 0 ] && succeeded=$((succeeded + 1))
    if ! report=$("$runner" check "$work/run" "$work/expected"); then
        echo "kill point $point of $total: the next run exited with $resumed; check:"
        echo "$report"
        find "$work/run" | sort
        cp -a "$work/run" "$root/quorvel-kill-failed-$point" && echo "kept in $root/quorvel-kill-failed-$point"
        exit 1
    fi
    case "$report" in *"kept files: 0"*) ;; *) partial=$((partial + 1)) ;; esac
done
echo "kill points tried: $tried of $total (every ${stride}th write-type call$([ "$double" -eq 1 ] && echo ', each resumed run killed once more')); killed: $killed; a client saw a whole old or new database every time; next run reported success: $succeeded; kept a .partial/.bak: $partial; nothing lost"
