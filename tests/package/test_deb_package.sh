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
echo "deb package: 1 passed, 0 failed"
