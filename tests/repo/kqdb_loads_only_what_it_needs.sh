#!/usr/bin/env bash
# Fails when kqdb brings in what a swipe from the command line does not need: the window's
# libraries (Qt's Gui, Widgets, Svg; X11, fonts, OpenGL) or the Access reader's libmdb,
# which only the reader's own process loads. Checked twice: in what the dynamic linker
# resolves for the program (ldd), and in what a swipe actually loads while it runs, against
# a database file and against a server that is not there (LD_DEBUG=files), where nothing
# may be loaded later by dlopen either.
#
#   kqdb_loads_only_what_it_needs.sh BUILD_DIR
set -uo pipefail
build="$(realpath "${1:?the build folder}")"
kqdb="$build/kqdb"
[ -x "$kqdb" ] || { echo "no program $kqdb" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_CONFIG_HOME="$work/config" LC_ALL=C.UTF-8
mkdir -p "$HOME"

forbidden='libQt6(Gui|Widgets|Svg|OpenGL|Network|DBus|XcbQpa)|libmdb|libxcb|libX11|libGL|libEGL|libfontconfig|libfreetype|libharfbuzz|libpng'
failed=0

linked="$(ldd "$kqdb")" || { echo "ldd cannot read $kqdb" >&2; exit 2; }
echo "$linked" | grep -q 'libQt6Core' || { echo "ldd lists no Qt core library: is this kqdb?" >&2; exit 2; }
if grep -E "$forbidden" <<<"$linked" >&2; then
  echo "kqdb is linked, directly or through its libraries, with the above" >&2
  failed=1
fi

# One swipe; what the dynamic linker loaded for it, at start and after.
swipe() {
  local name="$1" expected="$2"
  shift 2
  rm -f "$work/ld".*
  LD_DEBUG=files LD_DEBUG_OUTPUT="$work/ld" timeout 60 "$kqdb" swipe "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  if [ "$rc" -ne "$expected" ]; then
    echo "$name: kqdb swipe exited $rc, not $expected:" >&2
    cat "$work/err" >&2
    failed=1
  fi
  local loaded
  loaded="$(cat "$work/ld".* 2>/dev/null | grep -E 'file=[^ ]+ \[0\];  generating link map')"
  [ -n "$loaded" ] || { echo "$name: LD_DEBUG said nothing" >&2; exit 2; }
  if grep -E "$forbidden" <<<"$loaded" >&2; then
    echo "$name: kqdb swipe loaded the above" >&2
    failed=1
  fi
  if cat "$work/ld".* | grep 'dynamically loaded' >&2; then
    echo "$name: kqdb swipe loaded the above while it ran" >&2
    failed=1
  fi
  echo "$name: $(grep -c . <<<"$loaded") libraries loaded"
}

"$kqdb" create "$work/kq.mdb" --demo >/dev/null || { echo "kqdb create failed" >&2; exit 2; }
swipe "a database file" 0 "$work/kq.mdb" 0101 --now "2026-03-02 08:00:00"
grep -q '刷卡成功' "$work/out" || { echo "a database file: no swipe recorded" >&2; failed=1; }
# Through the connection, the server's failure path and the error's way to stderr.
swipe "a server that is not there" 1 "host=$work/no-server dbname=kq user=nobody" 0101
grep -q 'no-server' "$work/err" || { echo "a server that is not there: stderr does not say so" >&2; failed=1; }

[ "$failed" -eq 0 ] && echo "kqdb loads neither the window's libraries nor the Access reader's"
exit "$failed"
