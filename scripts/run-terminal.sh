#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo database where none exists, and starts
# the terminal.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

# The terminal reads its database folder from the per-user settings; only when none is
# configured does it use the mdb folder beside the executable. A demo database goes there
# when that folder holds none; a configured folder is never touched.
fallback="$(realpath -m "$build")/mdb"
folder="$("$build/kqdb" mdb-dir)"
if [ "$folder" = "$fallback" ] && [ ! -e "$fallback/kq.mdb" ]; then
  mkdir -p "$fallback"
  "$build/kqdb" create "$fallback/kq.mdb" --demo
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session: DISPLAY is not set. Run this from a desktop, or under xvfb-run." >&2
  exit 1
fi
exec "$build/tavelo"
