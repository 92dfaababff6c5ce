#!/usr/bin/env bash
# Builds the .deb as an administrator would (cpack -G DEB) and inspects it: its control
# fields and library dependencies, its files, its maintainer scripts, and that what it
# holds runs.
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
id="$TAVELO_APP_ID"
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$TAVELO_BUILD_DIR" && "$CPACK_COMMAND" -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/out/tavelo_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single .deb in the output"
deb="${debs[0]}"

[ "$(dpkg-deb -f "$deb" Package)" = tavelo ] || fail "package name"
[ -n "$(dpkg-deb -f "$deb" Version)" ] || fail "no version"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
depends="$(dpkg-deb -f "$deb" Depends)"
names="$(echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//')"
for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6svg6 libsqlite3-0 libpq5 libmdb3 qt6-qpa-plugins passwd; do
  grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib: $depends"
done

listing="$(dpkg-deb -c "$deb")"
for f in ./etc/xdg/tavelo/registry.ini ./usr/bin/kqdb ./usr/bin/tavelo \
  "./usr/share/applications/$id.desktop" "./usr/share/metainfo/$id.metainfo.xml" \
  "./usr/share/icons/hicolor/scalable/apps/$id.svg"; do
  grep -q " $f\$" <<<"$listing" || fail "the package lacks $f"
done
for size in 16 32 48 64 128 256; do
  grep -q " ./usr/share/icons/hicolor/${size}x${size}/apps/$id.png\$" <<<"$listing" ||
    fail "the package lacks the ${size}px icon"
done
grep -q '^-rwxr-xr-x root/root .* ./usr/bin/tavelo$' <<<"$listing" || fail "tavelo is not root-owned 0755"

dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = /etc/xdg/tavelo/registry.ini ] || fail "conffiles"
[ -x "$work/control/postinst" ] || fail "no executable postinst"
cmp -s "$work/control/postinst" "$TAVELO_SOURCE_DIR/packaging/debian/postinst" || fail "postinst differs"

# What the package holds runs: its kqdb, driven by its postinst, makes the shared database.
dpkg-deb -x "$deb" "$work/root"
grep -q '^ELF.*, stripped' <<<"$(file -b "$work/root/usr/bin/tavelo")" || fail "tavelo is not a stripped program"
TAVELO_DATA_DIR="$work/var/lib/tavelo" TAVELO_GROUP="$(id -gn)" TAVELO_KQDB="$work/root/usr/bin/kqdb" \
  sh "$work/control/postinst" configure
[ "$(sqlite3 "$work/var/lib/tavelo/kq.mdb" 'SELECT count(*) FROM employ')" = 0 ] ||
  fail "the packaged kqdb made no empty database"
# What a Debian package carries besides its programs: the copyright, which holds the project's
# licence word for word, and the changelog, whose latest entry is this version.
for f in "./usr/share/doc/tavelo/copyright" "./usr/share/doc/tavelo/changelog.gz"; do
  grep -q '^-rw-r--r-- root/root .* '"$f"'$' <<<"$listing" || fail "the package lacks $f (root-owned 0644)"
done
copyright="$work/root/usr/share/doc/tavelo/copyright"
head -n1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "the copyright file is not in Debian's machine-readable form"
diff <(sed -n '/^License:/,$p' "$copyright" | tail -n +2 | sed 's/^ //; s/^\.$//') "$TAVELO_SOURCE_DIR/LICENSE" ||
  fail "the copyright file's licence text differs from LICENSE"
version="$(dpkg-deb -f "$deb" Version)"
zcat "$work/root/usr/share/doc/tavelo/changelog.gz" | head -n1 | grep -q "^tavelo ($version) " ||
  fail "the changelog's latest entry is not version $version: $(zcat "$work/root/usr/share/doc/tavelo/changelog.gz" | head -n1)"

# Debian's own check of the package: no errors. Its warnings and notes are shown.
command -v lintian >/dev/null || fail "lintian is missing (scripts/install-deps.sh --tests installs it)"
rc=0
lintian --tag-display-limit 0 --fail-on error "$deb" >"$work/lintian.log" 2>&1 || rc=$?
cat "$work/lintian.log"
if grep -q '^E: ' "$work/lintian.log"; then fail "lintian reports errors"; fi
[ "$rc" -eq 0 ] || fail "lintian did not run through (exit $rc)"

echo "deb package: 1 passed, 0 failed"
