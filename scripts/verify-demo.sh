#!/usr/bin/env bash
# Rehearses the demo's upgrade script with dbrtool verify, as a release engineer would
# before shipping it: on a copy of the demo installation of examples/demo, against the
# databases a fresh installation of the new version makes (examples/demo/fresh), first as
# the script is, then with a deliberate mistake (the TABLE item of TMESSAGE written with the
# column the release adds, so that the old rows no longer fit). Installs what is missing
# and builds dbrtool when needed.
#
#   scripts/verify-demo.sh [--json]     --json shows the reports as JSON
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
json=()
[ "${1:-}" = --json ] && json=(--json)

source scripts/lib/packages.sh
ensure_packages cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev sqlite3

echo "=== building dbrtool (preset default)"
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target dbrtool | tail -n 1
dbrtool=$root/build/default/tools/dbrtool/dbrtool
export QUORVEL_CODEPAGE=936

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-verify-demo-XXXXXX")
trap 'rm -rf "$work"' EXIT
demo=examples/demo

# Databases from SQL: <from>/x.s3db.sql makes <to>/x.s3db.
make_databases() {
    (cd "$1" && find . -name '*.sql' | sort) | while read -r sql; do
        target=$2/${sql%.sql}
        mkdir -p "$(dirname "$target")"
        sqlite3 "$target" <"$1/$sql"
    done
}
mkdir "$work/installation" "$work/fresh-8.1.0.1"
cp "$demo/vennic.exe" "$work/installation/"
make_databases "$demo/databases" "$work/installation"
make_databases "$demo/fresh" "$work/fresh-8.1.0.1"

cd "$work"
echo "=== dbrtool verify upgrade.dbr installation --expect fresh-8.1.0.1"
cp "$root/$demo/upgrade.dbr" upgrade.dbr
status=0
"$dbrtool" verify upgrade.dbr installation --expect fresh-8.1.0.1 "${json[@]}" || status=$?
echo "exit status: $status"

echo
echo "=== the same with a mistake: TMESSAGE's TABLE item already has the new column F_READ"
sed 's/^F_TEXT TEXT, F_TIME TEXT);$/F_TEXT TEXT, F_TIME TEXT, F_READ INTEGER DEFAULT 1);/' \
    "$root/$demo/upgrade.txt" >mistake.txt
"$dbrtool" encode mistake.txt mistake.dbr >/dev/null
status=0
"$dbrtool" verify mistake.dbr installation --expect fresh-8.1.0.1 "${json[@]}" || status=$?
echo "exit status: $status"
