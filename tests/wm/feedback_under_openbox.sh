#!/usr/bin/env bash
# The real terminal under a real window manager (openbox on Xvfb), judged by the pixels of
# its window: a swipe asked for by Enter with no database, or on an empty list, changes the
# status line and leaves the red line standing; and the error box comes out centred on the
# window by its frame, title bar included, as the delete confirmation does.
set -euo pipefail
tavelo="$1"
kqdb="$2"
extra_tools="xdotool import convert compare"

# shellcheck source=openbox_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/openbox_session.sh"

fail() { echo "$*" >&2; exit 1; }

# Where the status line and the red line lie in the window (client coordinates).
readonly status_area="589x23+0+418" red_point="235,310"
readonly red="srgb(160,0,0)"

shot() { import -window "$window" "$work/$1.png"; }
pixel() { convert "$work/$1.png" -format "%[pixel:p{$2}]" info:; }
# How many pixels of the status line differ between two shots.
status_changes() {
  convert "$work/$1.png" -crop "$status_area" +repage "$work/$1-status.png"
  convert "$work/$2.png" -crop "$status_area" +repage "$work/$2-status.png"
  compare -metric AE "$work/$1-status.png" "$work/$2-status.png" null: 2>&1 || true
}

# A swipe by Enter in the list: shots before and after, the status line must change and the
# red band must be there afterwards.
swipe_shows_failure() {
  local name="$1" changed
  wait_for has_keyboard || fail "$name: openbox did not give the window the keyboard"
  sleep 0.5
  shot "$name-before"
  xdotool key --delay 50 Return
  sleep 1
  shot "$name-after"
  changed="$(status_changes "$name-before" "$name-after")"
  [ "${changed%%.*}" -gt 30 ] || fail "$name: Enter left the status line as it was ($changed pixels changed)"
  [ "$(pixel "$name-after" "$red_point")" = "$red" ] ||
    fail "$name: no red line after the swipe (pixel $(pixel "$name-after" "$red_point"))"
  echo "$name: Enter changed $changed pixels of the status line; the red line stands"
}

start_openbox
wait_for openbox_running || fail "openbox did not start: $(display_state)"

# No database: the start failure is on the red line before the swipe and stays.
start_terminal "$work/db/missing.mdb"
wait_for has_keyboard || fail "openbox did not give the window without a database the keyboard"
sleep 0.5
shot start-failure
[ "$(pixel start-failure "$red_point")" = "$red" ] || fail "no red line for the missing database"
swipe_shows_failure "no database"
stop_terminal

# An empty list.
"$kqdb" create "$work/db/empty.mdb" >/dev/null
start_terminal "$work/db/empty.mdb"
wait_for has_keyboard || fail "openbox did not give the window on an empty list the keyboard"
sleep 0.5
shot empty-start
[ "$(pixel empty-start "$red_point")" != "$red" ] || fail "a red line before any swipe on an empty list"
swipe_shows_failure "empty list"
stop_terminal

# The error box, over the running window: without a database, the search on the release of
# the Tab into the number box fails into it.
start_terminal "$work/db/missing.mdb"
wait_for has_keyboard || fail "openbox did not give the window without a database the keyboard"
sleep 0.5
xdotool key --delay 50 Tab Tab
has_error_box() { error_box="$(terminal_window "" Tavelo)"; }
wait_for has_error_box || fail "no error box after tabbing into the number box without a database"
box_framed() { xprop -id "$error_box" _NET_FRAME_EXTENTS 2>/dev/null | grep -q '='; }
wait_for box_framed || fail "openbox put no frame around the error box"
# Both frames' centres, to a pixel.
box_on_window() {
  local bx by bw bh wx wy ww wh
  read -r bx by bw bh < <(frame_geometry "$error_box")
  read -r wx wy ww wh < <(frame_geometry "$window")
  local dx=$((2 * bx + bw - 2 * wx - ww)) dy=$((2 * by + bh - 2 * wy - wh))
  [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ]
}
if wait_for box_on_window; then
  echo "error box centred on the window: box $(frame_geometry "$error_box"), window $(frame_geometry "$window")"
else
  fail "error box NOT centred on the window: box $(frame_geometry "$error_box"), window $(frame_geometry "$window")"
fi
xdotool key Return
stop_terminal
