#!/usr/bin/env bash
# Runs the package's postinst against a temporary folder: it makes the shared folder
# (setgid, sticky, group-writable) and an empty database with its write-ahead log, and on a second run, or with a
# folder and database already there, changes nothing; whatever stands at the database's
# name, a dangling link included, is left alone and never followed.
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
[ "$(stat -c '%a %G' "$dir")" = "3775 $group" ] || fail "folder is $(stat -c '%a %G' "$dir")"
[ "$(stat -c '%a %G' "$dir/kq.mdb")" = "664 $group" ] || fail "database is $(stat -c '%a %G' "$dir/kq.mdb")"
# The write-ahead log and its index stay beside it with its group and rights, so that
# every member may write them and a user who may only read the database can read it.
for side in kq.mdb-wal kq.mdb-shm; do
  [ -f "$dir/$side" ] || fail "no $side beside the new database"
  [ "$(stat -c '%a %G' "$dir/$side")" = "664 $group" ] || fail "$side is $(stat -c '%a %G' "$dir/$side")"
done
[ "$(sqlite3 "$dir/kq.mdb" 'PRAGMA journal_mode')" = "wal" ] || fail "the new database keeps no write-ahead log"
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

# The folder as an earlier version made it (setgid, not sticky) is made sticky.
old="$work/old"
mkdir "$old"
chgrp "$group" "$old"
chmod 2775 "$old"
run_postinst "$old"
[ "$(stat -c '%a' "$old")" = 3775 ] || fail "the earlier folder is $(stat -c '%a' "$old")"

# A dangling link at the database's name: the install goes through, says so, and neither
# follows the link (nothing appears where it points) nor removes it.
dangling="$work/dangling"
mkdir "$dangling"
ln -s "$work/nowhere/kq.mdb" "$dangling/kq.mdb"
mkdir "$work/nowhere"
err="$(run_postinst "$dangling" 2>&1 >/dev/null)" || fail "a dangling link failed the install: $err"
[ -L "$dangling/kq.mdb" ] && [ "$(readlink "$dangling/kq.mdb")" = "$work/nowhere/kq.mdb" ] || fail "the link was changed"
[ ! -e "$work/nowhere/kq.mdb" ] || fail "the link was followed: a database appeared where it points"
grep -q "kq.mdb is a symbolic link; left as it is" <<<"$err" || fail "no word about the link: $err"

# A link to an existing file: that file keeps its bytes, owner and mode.
linked="$work/linked"
mkdir "$linked"
printf 'private' >"$work/private"
chmod 0600 "$work/private"
ln -s "$work/private" "$linked/kq.mdb"
run_postinst "$linked" 2>/dev/null || fail "a link to a file failed the install"
[ "$(cat "$work/private")" = private ] && [ "$(stat -c '%a' "$work/private")" = 600 ] ||
  fail "the file behind the link was touched"

# A database that cannot be made (no kqdb to make it) is reported, not a failed install.
broken="$work/broken"
err="$(TAVELO_DATA_DIR="$broken" TAVELO_GROUP="$group" TAVELO_KQDB=/nonexistent/kqdb sh "$postinst" configure 2>&1 >/dev/null)" ||
  fail "a database that could not be made failed the install"
grep -q "could not create $broken/kq.mdb" <<<"$err" || fail "no word about the missing database: $err"

# Other maintainer-script calls do nothing.
run_postinst "$work/untouched" abort-upgrade
[ ! -e "$work/untouched" ] || fail "abort-upgrade made the folder"
echo "postinst: 1 passed, 0 failed"
