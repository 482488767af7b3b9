#!/usr/bin/env bash
# Runs Quorvel as an installer would, on the demo installation of examples/demo: installs
# what is missing, builds quorvel when needed, puts the demo's client, script and freshly
# made databases with the program into a temporary folder, runs `quorvel -S` there, and
# prints the exit status, the log, the update record and the tables before and after.
#
#   scripts/demo.sh [--keep]     --keep leaves the temporary folder for a closer look
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

keep=0
[ "${1:-}" = --keep ] && keep=1

source scripts/lib/packages.sh
ensure_packages cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev sqlite3 python3

echo "=== building quorvel (preset default)"
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target quorvel | tail -n 1
quorvel=$root/build/default/src/app/quorvel

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-demo-XXXXXX")
if [ "$keep" -eq 0 ]; then trap 'rm -rf "$work"' EXIT; fi

# The installation: the client, the script, the databases the client left, the program.
demo=examples/demo
cp "$demo/vennic.exe" "$demo/upgrade.dbr" "$quorvel" "$work/"
(cd "$demo/databases" && find . -name '*.sql' | sort) | while read -r sql; do
    target=$work/${sql%.sql}
    mkdir -p "$(dirname "$target")"
    sqlite3 "$target" <"$demo/databases/$sql"
done

# One line per table: "<database> <table> <rows> <columns>".
summary() {
    (cd "$work" && find . -name '*.s3db' | sed 's|^\./||' | sort) | while read -r db; do
        sqlite3 "$work/$db" "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name" |
            while read -r table; do
                rows=$(sqlite3 "$work/$db" "SELECT count(*) FROM \"$table\"")
                cols=$(sqlite3 "$work/$db" "SELECT count(*) FROM pragma_table_info('$table')")
                echo "$db $table $rows $cols"
            done
    done
}
version() { sqlite3 "$work/$1" "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'"; }

before=$(summary)
declare -A old_version
for db in DB.s3db data/chat/chat.s3db settings.s3db; do old_version[$db]=$(version "$db"); done

echo "=== installation folder: $work"
echo "=== running: quorvel -S"
status=0
(cd "$work" && ./quorvel -S </dev/null) || status=$?
if [ "$status" -eq 0 ]; then
    echo "exit status: 0 (数据迁移成功！)"
else
    echo "exit status: $status (migration failed; see the log)"
fi

# The log goes to log\ReData.log, or beside the program when there is no folder "log".
log=$work/log/ReData.log
[ -f "$log" ] || log=$work/ReData.log
echo "=== ${log#"$work"/} (code page 936, shown as UTF-8)"
iconv -f GBK -t UTF-8 "$log" 2>/dev/null || echo "(no log)"
echo "=== configure\\update.xml"
iconv -f GBK -t UTF-8 "$work/configure/update.xml" 2>/dev/null && echo || echo "(none)"

echo "=== tables: rows (columns), before -> after"
after=$(summary)
printf '%-22s %-15s %-16s %s\n' database table before after
join -a1 -a2 -e '-' -o '0,1.2,1.3,2.2,2.3' \
    <(echo "$before" | awk '{print $1"|"$2, $3, $4}' | sort) \
    <(echo "$after" | awk '{print $1"|"$2, $3, $4}' | sort) |
    while read -r key rows_before cols_before rows_after cols_after; do
        db=${key%|*}
        table=${key#*|}
        from="$rows_before ($cols_before)"
        [ "$rows_before" = - ] && from="(new)"
        printf '%-22s %-15s %-16s %s\n' "$db" "$table" "$from" "$rows_after ($cols_after)"
    done
echo "=== database versions (TVERSION, TMAIN)"
for db in DB.s3db data/chat/chat.s3db settings.s3db; do
    printf '%-22s %s -> %s\n' "$db" "${old_version[$db]}" "$(version "$db")"
done
leftovers=$(cd "$work" && find . -name '*.tmp' -o -name '*.bak' | sed 's|^\./||')
echo "=== set-aside files left: ${leftovers:-none}"
[ "$keep" -eq 1 ] && echo "(kept: $work)"
exit "$status"
