#!/usr/bin/env bash
# Fails when a database back end's C API is reached outside its own folder: sqlite3.h only in
# sqlite/, libpq-fe.h only in postgres/, mdbtools.h only in interchange/AccessTableDump.cpp
# (the Access reader's child process); a back end's own class header (any of postgres/,
# sqlite/SqliteBackend.h) only in its folder and query/BackendFactory.cpp,
# the rest reaching a server's extras through query/ServerFeatures.h; or when a back end is
# constructed anywhere but in the back ends and query/BackendFactory.cpp. Tests and benchmarks may reach anything.
#
#   backend_headers_in_their_rooms.sh [ROOT]     ROOT defaults to the repository holding this script
set -uo pipefail
root="$(realpath "${1:-$(dirname "${BASH_SOURCE[0]}")/../..}")"
cd "$root" || exit 2

mapfile -t files < <(find . \( -path ./build -o -path './build-*' -o -path ./tests -o -path ./bench \
  -o -path ./fuzz -o -path ./.git \) -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no sources found under $root" >&2; exit 2; }

failed=0
for f in "${files[@]}"; do
  while IFS=: read -r line header; do
    also=
    case "$header" in
    sqlite3.h | sqlite3ext.h) allowed=sqlite/ ;;
    sqlite/SqliteBackend.h) allowed=sqlite/ also=query/BackendFactory.cpp ;;
    postgres/*.h) allowed=postgres/ also=query/BackendFactory.cpp ;;
    libpq-fe.h | libpq/*) allowed=postgres/ ;;
    mdbtools.h) allowed=interchange/AccessTableDump.cpp ;;
    *) continue ;;
    esac
    case "$f" in
    "$allowed"*) ;;
    *)
      if [ -n "$also" ] && [ "$f" = "$also" ]; then continue; fi
      echo "$f:$line: includes $header, which belongs to $allowed${also:+ and $also} only" >&2
      failed=1
      ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$f" |
    sed -E 's/^([0-9]+):[^<"]*[<"]([^>"]+)[>"].*/\1:\2/')

  case "$f" in
  sqlite/* | postgres/* | query/BackendFactory.cpp) continue ;;
  esac
  if hits="$(grep -nE 'make_unique<(SqliteBackend|PgBackend)>|\b(SqliteBackend|PgBackend)[[:space:]]+[A-Za-z_][A-Za-z0-9_]*[[:space:]]*[({]' "$f")"; then
    while IFS= read -r hit; do
      echo "$f:${hit%%:*}: constructs a back end outside the back ends and query/BackendFactory.cpp" >&2
    done <<<"$hits"
    failed=1
  fi
done

[ "$failed" -eq 0 ] && echo "back-end headers and construction stay in their rooms (${#files[@]} files)"
exit "$failed"
