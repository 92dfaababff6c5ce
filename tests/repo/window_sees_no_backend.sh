#!/usr/bin/env bash
# Fails when the window (app/) includes a back end's header or an offline-machinery header:
# it goes through the query layer and the attendance terminal interface only, so that how
# a swipe is stored, online or offline, can change without touching the window.
#
#   window_sees_no_backend.sh [ROOT]     ROOT defaults to the repository holding this script
set -uo pipefail
root="$(realpath "${1:-$(dirname "${BASH_SOURCE[0]}")/../..}")"
cd "$root" || exit 2

mapfile -t files < <(find app -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no sources found under $root/app" >&2; exit 2; }

failed=0
for f in "${files[@]}"; do
  while IFS=: read -r line header; do
    case "$header" in
    sqlite/* | postgres/* | sqlite3.h | libpq-fe.h | mdbtools.h | attendance/AttendanceLink.h | \
      attendance/LocalStore.h | attendance/OutboxSwipe.h | attendance/OutboxForwarder.h | attendance/CardSwipe.h)
      echo "$f:$line: the window includes $header" >&2
      failed=1
      ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$f" |
    sed -E 's/^([0-9]+):[^<"]*[<"]([^>"]+)[>"].*/\1:\2/')
done

[ "$failed" -eq 0 ] && echo "the window includes no back-end or offline header (${#files[@]} files)"
exit "$failed"
