#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo database where none exists, and starts
# the terminal.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

# The terminal reads its database folder from the per-user settings file; only when no
# folder is configured does it use the mdb folder beside the executable.
settings="${XDG_CONFIG_HOME:-$HOME/.config}/tavelo/registry.ini"
configured=""
if [ -f "$settings" ]; then
  configured="$(sed -n 's/^Microsoft\\\\Windows\\\\CurrentVersion\\\\Kelvaro\\\\mdb=//p' "$settings" | tr -d '[:space:]')"
fi
if [ -z "$configured" ] && [ ! -e "$build/mdb/kq.mdb" ]; then
  mkdir -p "$build/mdb"
  "$build/kqdb" create "$build/mdb/kq.mdb" --demo
  echo "Demo database created: $build/mdb/kq.mdb"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session found (DISPLAY is not set); starting the terminal under Xvfb." >&2
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$build/tavelo"
fi
exec "$build/tavelo"
