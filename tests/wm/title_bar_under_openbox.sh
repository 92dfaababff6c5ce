#!/usr/bin/env bash
# The real terminal under a real window manager (openbox on Xvfb): the hints on its window
# ask for a title bar with the caption only, while minimise and close stay possible from
# the task bar; a close request from there ends the program with exit code 0; and the
# delete confirmation comes out centred on the screen by its frame.
set -euo pipefail
tavelo="$1"
kqdb="$2"
extra_tools="wmctrl xdotool"

# shellcheck source=openbox_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/openbox_session.sh"

fail() { echo "$*" >&2; exit 1; }

start_openbox
wait_for openbox_running || fail "openbox did not start: $(display_state)"
start_terminal
wait_for has_frame || fail "openbox put no frame around the window"

# _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
read -r flags functions decorations _ < <(xprop -id "$window" _MOTIF_WM_HINTS | sed 's/.*= *//; s/,/ /g')
[ -n "${decorations:-}" ] || fail "no Motif hints on the window: $(xprop -id "$window" _MOTIF_WM_HINTS)"
echo "Motif hints: flags $flags, functions $functions, decorations $decorations"
((flags & 1)) || fail "the functions field is not in use (flags $flags)"
((flags & 2)) || fail "the decorations field is not in use (flags $flags)"
# Decorations: border 2 and title 8 only; no resize handles 4, window menu 16, minimise 32,
# maximise 64 (nor 1, all).
((decorations == (2 | 8))) || fail "decorations $decorations, expected border and title only (10)"
# Functions: move 4, minimise 8 and close 32 (the task bar's); not resize 2, maximise 16.
((functions == (4 | 8 | 32))) || fail "functions $functions, expected move, minimise and close only (44)"

# What the window manager lets the task bar do.
actions="$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)"
echo "$actions"
for action in CLOSE MINIMIZE MOVE; do
  grep -q "_NET_WM_ACTION_$action\b" <<<"$actions" || fail "the window manager does not allow $action"
done
for action in RESIZE MAXIMIZE_HORZ MAXIMIZE_VERT; do
  if grep -q "_NET_WM_ACTION_$action\b" <<<"$actions"; then fail "the window manager allows $action"; fi
done

# Ctrl+Delete in the list asks for confirmation in a box centred by its frame; Escape
# answers Cancel.
wait_for has_keyboard || fail "openbox did not give the window the keyboard (active: $(xprop -root _NET_ACTIVE_WINDOW), focus: $(xdotool getwindowfocus))"
# The terminal takes a moment to set its own focus on the list once it is active.
sleep 0.3
xdotool key --clearmodifiers ctrl+Delete
has_confirm() { confirm="$(terminal_window "" Confirm)"; }
wait_for has_confirm || fail "no confirmation box after Ctrl+Delete"
confirm_framed() { xprop -id "$confirm" _NET_FRAME_EXTENTS 2>/dev/null | grep -q '='; }
wait_for confirm_framed || fail "openbox put no frame around the confirmation box"
if wait_for centred "$confirm"; then
  echo "confirmation box centred ($(frame_geometry "$confirm"))"
else
  fail "confirmation box NOT centred: frame $(frame_geometry "$confirm"), screen ${screen_w}x${screen_h}"
fi
xdotool key Escape
confirm_gone() { ! xwininfo -id "$confirm" 2>/dev/null | grep -q IsViewable; }
wait_for confirm_gone || fail "the confirmation box did not close on Escape"

# The task bar's close: _NET_CLOSE_WINDOW to the window manager, which asks the window.
wmctrl -i -c "$window"
ended() { ! kill -0 "$terminal" 2>/dev/null; }
wait_for ended || fail "the terminal did not end on a close request from the task bar"
code=0
wait "$terminal" || code=$?
[ "$code" -eq 0 ] || fail "the terminal ended with exit code $code after a close request"
echo "closed from the task bar with exit code 0"
