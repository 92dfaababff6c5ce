#!/usr/bin/env bash
# Installs what is missing, builds the terminal and its database tool (nothing else),
# makes a demo database where none exists, says which database the terminal will open,
# and starts the terminal.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"

# A window needs a desktop: say so before spending minutes on a build that cannot be shown.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set, so the window cannot be shown." >&2
  echo "Run this from a terminal on your desktop, or without one under a virtual display:" >&2
  echo "    xvfb-run -a scripts/run-terminal.sh      (package xvfb)" >&2
  echo "To build only, without starting the window: scripts/build.sh tavelo kqdb" >&2
  exit 1
fi

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" tavelo kqdb

# The terminal opens the database the settings name, else kq.mdb in the database folder
# of the settings, else in the mdb folder beside the executable. A demo database goes
# there, in the mdb folder beside the executable, when it holds none; a configured folder
# or database is never touched.
fallback="$(realpath -m "$build")/mdb"
database="$("$build/kqdb" terminal-database)"
if [ "$database" = "$fallback/kq.mdb" ] && [ ! -e "$database" ]; then
  mkdir -p "$fallback"
  "$build/kqdb" create "$database" --demo
fi

case "$database" in
server:*)
  echo "The terminal opens the database on the ${database#server: } server"
  ;;
*)
  echo "The terminal opens the database $database"
  if [ ! -e "$database" ]; then
    folder="$(dirname "$database")"
    make="$build/kqdb create '$database' --demo"
    if [ ! -d "$folder" ]; then
      echo "warning: the configured folder $folder does not exist." >&2
      make="mkdir -p '$folder' && $make"
    fi
    echo "warning: $database does not exist and will not be made: the window will show an" >&2
    echo "         empty list. Make one with: $make" >&2
    echo "         or change the settings: see README.md." >&2
  fi
  ;;
esac

exec "$build/tavelo"
