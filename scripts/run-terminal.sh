#!/usr/bin/env bash
# Installs what is missing, builds the terminal and its database tool (nothing else),
# makes a demo database where none exists, says which database the terminal will open,
# and starts the terminal.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" tavelo kqdb

# The terminal reads its database folder from the settings; only when none is configured
# does it use the mdb folder beside the executable. A demo database goes there when that
# folder holds none; a configured folder is never touched.
fallback="$(realpath -m "$build")/mdb"
folder="$("$build/kqdb" mdb-dir)"
database="$folder/kq.mdb"
if [ "$folder" = "$fallback" ] && [ ! -e "$database" ]; then
  mkdir -p "$fallback"
  "$build/kqdb" create "$database" --demo
fi

echo "The terminal opens the database $database"
if [ ! -e "$database" ]; then
  make="$build/kqdb create '$database' --demo"
  if [ ! -d "$folder" ]; then
    echo "warning: the configured folder $folder does not exist." >&2
    make="mkdir -p '$folder' && $make"
  fi
  echo "warning: $database does not exist and will not be made: the window will show an" >&2
  echo "         empty list. Make one with: $make" >&2
  echo "         or change the folder (mdb) in the settings: see README.md." >&2
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session: DISPLAY is not set. Run this from a desktop, or under xvfb-run." >&2
  exit 1
fi
exec "$build/tavelo"
