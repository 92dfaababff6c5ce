#!/usr/bin/env bash
# Starts the real terminal headless against a private settings file: once on a folder
# without a database (one error line, the program keeps running) and once on a demo
# database (no error line).
set -euo pipefail
tavelo="$1"
kqdb="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_CONFIG_HOME/tavelo" "$XDG_RUNTIME_DIR" "$work/empty" "$work/db"
chmod 700 "$XDG_RUNTIME_DIR"
log="$XDG_STATE_HOME/tavelo/error.log"

run_for_a_while() {
  printf '[Software/Microsoft/Windows/CurrentVersion/Kelvaro]\nmdb=%s\n' "$1" >"$XDG_CONFIG_HOME/tavelo/registry.ini"
  "$tavelo" &
  local pid=$!
  sleep 2
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "the terminal ended on its own" >&2
    exit 1
  fi
  kill "$pid"
  wait "$pid" || true
}

run_for_a_while "$work/empty"
[ -f "$log" ] || { echo "no error log at $log" >&2; exit 1; }
lines=$(grep -c $'\r$' "$log")
[ "$lines" -eq 1 ] || { echo "expected one error line, got $lines" >&2; exit 1; }
grep -q "System Error" "$log" || { echo "the line is not a System Error" >&2; exit 1; }
grep -q "<< SELECT \* FROM employ >>" "$log" || { echo "the statement is missing" >&2; exit 1; }

"$kqdb" create "$work/db/kq.mdb" --demo >/dev/null
run_for_a_while "$work/db"
lines=$(grep -c $'\r$' "$log")
[ "$lines" -eq 1 ] || { echo "a demo database logged an error" >&2; exit 1; }
echo "smoke test passed"
