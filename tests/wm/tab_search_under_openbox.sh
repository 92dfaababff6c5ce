#!/usr/bin/env bash
# The real terminal under a real window manager (openbox on Xvfb), driven by key events
# from the display server: after the list was moved away with the arrows, tabbing back
# into the number box finds the employee whose number the box shows, and Enter swipes for
# that one, not for the row the arrows left current.
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
