#!/usr/bin/env bash
# Fails when a source of a room includes a header of the repository that its room may not
# include (room_borders.txt, as the rooms' READMEs say): the build refuses most such includes
# already; this reads the sources themselves, so a crossing shows even where the build's
# include paths happen to let it through (a header another header of the room includes).
#
#   rooms_includes_within_borders.sh [ROOT]     ROOT defaults to the repository holding this script
set -uo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
root="$(realpath "${1:-$here/../..}")"
# shellcheck source=room_borders.sh
source "$here/room_borders.sh"
borders_load "$here/room_borders.txt" || exit 2
cd "$root" || exit 2

mapfile -t files < <(find platform log query sqlite postgres attendance interchange controls app tools/kqdb \
  -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no sources found under $root" >&2; exit 2; }

failed=0
for f in "${files[@]}"; do
  if ! borders_key "$f" >/dev/null; then
    echo "$f: in no room of room_borders.txt" >&2
    failed=1
    continue
  fi
  while IFS=: read -r line header; do
    case "$header" in */*) ;; *) continue ;; esac
    if ! borders_permits "$f" "$header"; then
      echo "$f:$line: includes $header, which its room may not include ($(borders_key "$f") may include: ${BORDER_RULES[$(borders_key "$f")]})" >&2
      failed=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$f" |
    sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done

[ "$failed" -eq 0 ] && echo "every include keeps to its room's borders (${#files[@]} files)"
exit "$failed"
