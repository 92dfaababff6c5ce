#!/usr/bin/env bash
# The real terminal under a real window manager (openbox on Xvfb): its frame, title bar
# included, must come out centred on the screen. Once with openbox starting only after the
# window is up and active, so the frame size becomes known late (the window must centre
# itself again then), and then several ordinary starts under a running openbox.
set -euo pipefail
tavelo="$1"
kqdb="$2"
starts="${3:-5}"

# shellcheck source=openbox_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/openbox_session.sh"

failures=0
check() {
  # Give the frame its size and the terminal time to react, then judge.
  wait_for has_frame || { echo "$1: openbox put no frame around the window" >&2; exit 1; }
  if wait_for centred; then
    echo "$1: centred ($(frame_geometry))"
  else
    echo "$1: NOT centred: frame $(frame_geometry), screen ${screen_w}x${screen_h}" >&2
    failures=$((failures + 1))
  fi
}

# The frame becomes known only after the window has been shown and activated.
start_terminal
sleep 0.5
start_openbox
check "openbox started late"
stop_terminal

for i in $(seq "$starts"); do
  start_terminal
  check "start $i"
  stop_terminal
done

[ "$failures" -eq 0 ] || { echo "$failures of $((starts + 1)) starts off centre" >&2; exit 1; }
echo "centred under openbox in all $((starts + 1)) starts"
