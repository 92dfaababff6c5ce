#!/usr/bin/env bash
# Runs the package's postinst against a temporary folder: it makes the shared folder
# (setgid, group-writable) and an empty database, and on a second run, or with a folder
# and database already there, changes nothing.
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
postinst="$TAVELO_SOURCE_DIR/packaging/debian/postinst"
group="$(id -gn)"
run_postinst() {
  TAVELO_DATA_DIR="$1" TAVELO_GROUP="$group" TAVELO_KQDB="$TAVELO_BUILD_DIR/kqdb" sh "$postinst" "${2:-configure}"
}

dir="$work/var/lib/tavelo"
run_postinst "$dir"
[ "$(stat -c '%a %G' "$dir")" = "2775 $group" ] || fail "folder is $(stat -c '%a %G' "$dir")"
[ "$(stat -c '%a %G' "$dir/kq.mdb")" = "664 $group" ] || fail "database is $(stat -c '%a %G' "$dir/kq.mdb")"
tables="$(sqlite3 "$dir/kq.mdb" "SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type='table' ORDER BY name)")"
[ "$tables" = "employ,sgdjb" ] || fail "tables are $tables"
[ "$(sqlite3 "$dir/kq.mdb" 'SELECT count(*) FROM employ')" = 0 ] || fail "the new list is not empty"

# An upgrade runs it again: the database, now in use, stays as it is.
sqlite3 "$dir/kq.mdb" "INSERT INTO employ (num, name) VALUES ('0101', '张伟')"
before="$(sha256sum <"$dir/kq.mdb")"
run_postinst "$dir"
[ "$(sha256sum <"$dir/kq.mdb")" = "$before" ] || fail "a second run changed the database"

# A folder the administrator made keeps its mode; a database file there is not replaced,
# whatever it holds.
own="$work/own"
mkdir -m 0750 "$own"
printf 'not a database' >"$own/kq.mdb"
run_postinst "$own"
[ "$(stat -c '%a' "$own")" = 750 ] || fail "the administrator's folder mode was changed"
[ "$(cat "$own/kq.mdb")" = "not a database" ] || fail "an existing file was overwritten"

# Other maintainer-script calls do nothing.
run_postinst "$work/untouched" abort-upgrade
[ ! -e "$work/untouched" ] || fail "abort-upgrade made the folder"
echo "postinst: 1 passed, 0 failed"
