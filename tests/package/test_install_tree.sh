#!/usr/bin/env bash
# Installs into a temporary root under the /usr prefix (as the package does) and under a
# private prefix, and checks that every file is in place, of the right kind, and that the
# desktop entry and the metainfo validate.
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
id="$TAVELO_APP_ID"
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/root" "$CMAKE_COMMAND" --install "$TAVELO_BUILD_DIR" --prefix /usr >"$work/install.log"
root="$work/root"

expected=(
  etc/xdg/tavelo/registry.ini
  usr/bin/kqdb
  usr/bin/tavelo
  "usr/share/applications/$id.desktop"
  "usr/share/metainfo/$id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$id.svg"
  usr/share/doc/tavelo/changelog.gz
  usr/share/doc/tavelo/copyright
)
for size in 16 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] || fail "$f was not installed"
done
# Nothing else: no test programs, benchmarks or build helpers.
actual="$(cd "$root" && find . -type f | sed 's|^\./||' | sort)"
wanted="$(printf '%s\n' "${expected[@]}" | sort)"
[ "$actual" = "$wanted" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$wanted") <(echo "$actual") || true)"

for exe in usr/bin/kqdb usr/bin/tavelo; do
  [ -x "$root/$exe" ] || fail "$exe is not executable"
  grep -q '^ELF' <<<"$(file -b "$root/$exe")" || fail "$exe is not a program"
done
for size in 16 32 48 64 128 256; do
  grep -q "PNG image data, $size x $size" <<<"$(file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png")" ||
    fail "the ${size}px icon is not a $size x $size PNG"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"

desktop="$root/usr/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate refused the desktop entry"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry names another icon"
grep -qx "Exec=tavelo" "$desktop" || fail "the desktop entry starts another program"
metainfo="$root/usr/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli refused the metainfo"
grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo has another id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo launches another desktop entry"

# The machine-wide default names the package's database folder.
grep -qx '\[Software/Microsoft/Windows/CurrentVersion/Kelvaro\]' "$root/etc/xdg/tavelo/registry.ini" ||
  fail "registry.ini lacks the Kelvaro key"
grep -qx 'mdb=/var/lib/tavelo' "$root/etc/xdg/tavelo/registry.ini" || fail "registry.ini names another folder"

# The installed tool runs.
"$root/usr/bin/kqdb" create "$work/kq.mdb" >/dev/null || fail "the installed kqdb cannot make a database"

# Under another prefix the settings file stays inside it.
"$CMAKE_COMMAND" --install "$TAVELO_BUILD_DIR" --prefix "$work/opt" >"$work/install2.log"
[ -f "$work/opt/etc/xdg/tavelo/registry.ini" ] || fail "registry.ini is not under the prefix"
[ -x "$work/opt/bin/tavelo" ] || fail "tavelo is not in the prefix's bin"
echo "install tree: 1 passed, 0 failed"
