# Sourced by the window-manager tests: a private Xvfb display, a throwaway home and
# database, helpers to find the terminal's window and its frame, and the terminal started
# and stopped. Expects $tavelo, $kqdb and optionally $extra_tools (more programs the test
# needs); sets $work, $DISPLAY, $xvfb, $terminal.
# shellcheck shell=bash

for tool in Xvfb openbox xwininfo xprop ${extra_tools:-}; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run"
export HOME="$work/home"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$HOME" "$work/db"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
"$kqdb" create "$work/db/kq.mdb" --demo >/dev/null

readonly screen_w=1024 screen_h=768
# Xvfb picks a free display and writes its number; only the Unix socket listens. Another
# server starting at the same moment can take the same number, so try again then. Without
# -noreset the server resets whenever its last client leaves (each xwininfo and xprop
# here), and a program connecting during that reset is refused.
display=""
for attempt in 1 2 3; do
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 "${screen_w}x${screen_h}x24" -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  pids+=("$xvfb")
  display=""
  for _ in $(seq 100); do
    display="$(tr -dc 0-9 <"$work/display")"
    [ -n "$display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.2
  if [ -n "$display" ] && kill -0 "$xvfb" 2>/dev/null && DISPLAY=":$display" xwininfo -root >/dev/null 2>&1; then
    break
  fi
  kill "$xvfb" 2>/dev/null || true
  display=""
done
[ -n "$display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"

start_openbox() {
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
}
# Openbox has taken over the screen (it names itself on the root window).
openbox_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
# What the display server and openbox said, for a failure message.
display_state() {
  if kill -0 "$xvfb" 2>/dev/null; then echo "Xvfb $DISPLAY is running"; else echo "Xvfb $DISPLAY has ended"; fi
  if xwininfo -root >/dev/null 2>&1; then echo "and answers"; else echo "and does not answer"; fi
  echo "Xvfb log:"
  cat "$work/xvfb.log"
  echo "openbox log:"
  cat "$work/openbox.log" 2>/dev/null || true
}

# Waits (at most 10 s) until cond succeeds.
wait_for() {
  for _ in $(seq 100); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# A viewable top-level window of the terminal, of this size and, if given, this name.
terminal_window() {
  local size="$1" name="${2:-}" id
  for id in $(xwininfo -root -tree 2>/dev/null |
    awk -v s="$size+" -v n="\"$name\":" '$1 ~ /^0x/ && index($0, s) && (n == "\"\":" || index($0, n)) {print $1}'); do
    if xprop -id "$id" WM_CLASS 2>/dev/null | grep -qi tavelo &&
      xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
# The terminal's own (client) window: viewable, 589 x 441, with the terminal's class.
client_window() { terminal_window 589x441; }
has_window() { window="$(client_window)"; }
# The window is the active one and holds the display's keyboard focus, so that key events
# from the display server reach it.
has_keyboard() { is_active && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$((window))" ]; }
is_active() { xprop -root _NET_ACTIVE_WINDOW 2>/dev/null | grep -q "$(printf '0x%x' "$window")\b"; }
has_frame() { xprop -id "$window" _NET_FRAME_EXTENTS 2>/dev/null | grep -q '='; }

# "x y w h" of the frame around a client window (default: $window).
frame_geometry() {
  local id="${1:-$window}" info x y w h l r t b
  info="$(xwininfo -id "$id")"
  x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
  y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
  w=$(awk '/Width:/ {print $NF}' <<<"$info")
  h=$(awk '/Height:/ {print $NF}' <<<"$info")
  read -r l r t b < <(xprop -id "$id" _NET_FRAME_EXTENTS | sed 's/.*= *//; s/,/ /g')
  echo "$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))"
}
# The frame around a client window (default: $window) is centred on the screen, to a pixel.
centred() {
  local x y w h
  read -r x y w h < <(frame_geometry "${1:-$window}")
  local dx=$((x - (screen_w - w) / 2)) dy=$((y - (screen_h - h) / 2))
  [ "${dx#-}" -le 1 ] && [ "${dy#-}" -le 1 ]
}

# Once seen in a full parallel run: the terminal could not connect to the display Xvfb
# had just answered on. That says nothing about the window, so such a start is tried once
# more, with what the display server said; any other failure fails at once.
# Starts the terminal on the demo database, or on the database file given.
start_terminal() {
  local attempt database="${1:-$work/db/kq.mdb}"
  for attempt in 1 2; do
    "$tavelo" --database "$database" >"$work/tavelo.log" 2>&1 &
    terminal=$!
    pids+=("$terminal")
    wait_for has_window && return 0
    echo "the terminal's window did not appear (attempt $attempt)" >&2
    cat "$work/tavelo.log" >&2
    grep -q "could not connect to display" "$work/tavelo.log" || exit 1
    if kill -0 "$xvfb" 2>/dev/null; then echo "Xvfb $DISPLAY is still running" >&2; else echo "Xvfb $DISPLAY has ended" >&2; fi
    xwininfo -root >/dev/null 2>&1 && echo "and answers" >&2 || echo "and does not answer" >&2
    cat "$work/xvfb.log" >&2
    sleep 1
  done
  exit 1
}
stop_terminal() {
  kill "$terminal"
  wait "$terminal" 2>/dev/null || true
}
