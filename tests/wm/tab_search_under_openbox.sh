#!/usr/bin/env bash
# The real terminal under a real window manager (openbox on Xvfb), driven by key events
# from the display server: after the list was moved away with the arrows, tabbing back
# into the number box finds the employee whose number the box shows, and Enter swipes for
# that one, not for the row the arrows left current. Without a database, the Tab into the
# box shows the error box, and the Enter that closes it does not open it again.
set -euo pipefail
tavelo="$1"
kqdb="$2"
extra_tools="xdotool sqlite3"

# shellcheck source=openbox_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/openbox_session.sh"

fail() { echo "$*" >&2; exit 1; }
records() { sqlite3 "$work/db/kq.mdb" "SELECT group_concat(num, ' ') FROM (SELECT num FROM sgdjb ORDER BY rowid)"; }

start_openbox
wait_for openbox_running || fail "openbox did not start: $(display_state)"
start_terminal
wait_for has_keyboard || fail "openbox did not give the window the keyboard (active: $(xprop -root _NET_ACTIVE_WINDOW), focus: $(xdotool getwindowfocus))"
# The terminal takes a moment to set its own focus on the list once it is active.
sleep 0.3
[ -z "$(records)" ] || fail "the new database already holds records: $(records)"

# The list has the focus: the digits go to the number box, Enter swipes for 0102.
xdotool type --delay 50 0102
xdotool key --delay 50 Return
has_first() { [ "$(records)" = "0102" ]; }
wait_for has_first || fail "after typing 0102 and Enter the records are: $(records)"

# Down four times: the first takes the focus to the list, three move it to 0105. Tab to
# the power button, Tab to the box, whose release searches 0102 again; Enter then swipes
# for 0102, refused as a repeat within three minutes, so nothing is added.
xdotool key --delay 50 Down Down Down Down Tab Tab Return
sleep 1
[ "$(records)" = "0102" ] || fail "Enter after tabbing into the box showing 0102 recorded: $(records)"
echo "records after Tab into the box and Enter: $(records)"
stop_terminal

# No database: the search on the Tab's release fails into the error box (caption: the
# application title). Its OK is taken by Enter, whose release then reaches the number box:
# that release must not search again and reopen the box.
start_terminal "$work/db/missing.mdb"
wait_for has_keyboard || fail "openbox did not give the window without a database the keyboard"
sleep 0.3
xdotool key --delay 50 Tab Tab
has_error_box() { error_box="$(terminal_window "" Tavelo)"; }
wait_for has_error_box || fail "no error box after tabbing into the number box without a database"
error_box_active() { xprop -root _NET_ACTIVE_WINDOW | grep -q "$(printf '0x%x' "$error_box")\b"; }
wait_for error_box_active || fail "the error box did not become active"
sleep 0.3
xdotool key Return
error_box_gone() { ! has_error_box; }
wait_for error_box_gone || fail "the error box did not close on Enter, or opened again at once"
sleep 1
if has_error_box; then fail "the error box opened again after the Enter that closed it"; fi
echo "without a database: Tab into the box showed the error box once; Enter closed it for good"
stop_terminal
