#!/usr/bin/env bash
# Databases of another user (Linux, as root; skipped otherwise):
#  - a run that may not take the write lease that proves no client has a database open
#    (the file is another user's) cannot know the file is free: it leaves the database
#    alone, says why, and loses nothing;
#  - a new file takes the old file's mode and owner.
#
#   ownership.sh RUNNER
set -euo pipefail

runner=$(realpath "$1")
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
    echo "needs root and setpriv: skipped"
    exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-owner-XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
fail() {
    echo "FAILED: $*"
    exit 1
}
log() { iconv -f GBK -t UTF-8 "$1/ReData.log"; }

"$runner" setup "$work/pristine" "$work/expected"

# Everything may be written by anyone, but the files stay root's.
cp -a "$work/pristine" "$work/other"
chmod -R a+rwX "$work/other"
status=0
setpriv --reuid=65534 --regid=65534 --clear-groups "$runner" migrate "$work/other" || status=$?
[ "$status" -eq 3 ] || fail "a run that cannot lease another user's database reported $status"
log "$work/other" | grep -q "无法确认数据库没有被其他程序打开, 不替换: .*DB.s3db" ||
    fail "the log does not say why"
"$runner" check "$work/other" "$work/expected" --nothing-lost >/dev/null || fail "rows lost"

cp -a "$work/pristine" "$work/owned"
chown 1234:1234 "$work/owned/data/DB.s3db"
chmod 640 "$work/owned/data/DB.s3db"
"$runner" migrate "$work/owned" || fail "the run as root failed"
"$runner" check "$work/owned" "$work/expected" >/dev/null || fail "not migrated"
owner=$(stat -c '%u:%g %a' "$work/owned/data/DB.s3db")
[ "$owner" = "1234:1234 640" ] || fail "the new file is $owner, not 1234:1234 640"
echo "another user's database: left alone without a lease; the new file keeps mode and owner"
