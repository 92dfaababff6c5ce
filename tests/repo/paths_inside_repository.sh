#!/usr/bin/env bash
# Fails when a test, script, benchmark, fuzz harness or build file refers to a path outside
# the repository: a newcomer's clone has nothing beside it, so such a path works only on the
# machine it was written on.
#
#   paths_inside_repository.sh [ROOT]     ROOT defaults to the repository holding this script
set -uo pipefail
root="$(realpath "${1:-$(dirname "${BASH_SOURCE[0]}")/../..}")"
cd "$root" || exit 2

if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git -C "$root" ls-files --cached --others --exclude-standard)
else
  mapfile -t files < <(find . -path ./build -prune -o -path './build-*' -prune -o -type f -print | sed 's|^\./||')
fi

checked=()
for f in "${files[@]}"; do
  case "$f" in
  CMakeLists.txt | */CMakeLists.txt | *.cmake | .ci/* | scripts/* | tests/* | bench/* | fuzz/*.cpp | fuzz/*.h | packaging/*.sh | packaging/debian/*) ;;
  *) continue ;;
  esac
  case "$f" in
  tests/fixtures/* | fuzz/corpus/* | tests/repo/*) continue ;;
  esac
  [ -f "$f" ] && checked+=("$f")
done

failed=0
report() {
  echo "$1:$2: refers to a path outside the repository: $3" >&2
  failed=1
}

for f in "${checked[@]}"; do
  dir="$(dirname "$root/$f")"
  # Paths that climb out with "..", resolved from the folder they are relative to.
  while IFS=: read -r line token; do
    [ -n "$token" ] || continue
    base="$dir"
    rest="$token"
    case "$token" in
    '${PROJECT_SOURCE_DIR}'/* | '${CMAKE_SOURCE_DIR}'/* | '$root'/* | '${root}'/*)
      base="$root"
      rest="${token#*/}"
      ;;
    '${CMAKE_CURRENT_SOURCE_DIR}'/* | '${CMAKE_CURRENT_LIST_DIR}'/*)
      rest="${token#*/}"
      ;;
    ../* | ./*) ;;
    *) continue ;;
    esac
    case "$rest" in *'$'*) continue ;; esac
    resolved="$(realpath -m "$base/$rest")"
    case "$resolved" in
    "$root" | "$root"/*) ;;
    *) report "$f" "$line" "$token" ;;
    esac
  done < <(grep -noE '[$][{(]?[A-Za-z_]+[})]?/(\.\./)+[^ "'"'"')]*|(^|[ "'"'"'(=])\.\.?/(\.\./)*[A-Za-z0-9_.-][^ "'"'"')]*' "$f" |
    sed -E 's/^([0-9]+):[ "'"'"'(=]?/\1:/' | grep -E ':.*\.\./')
  # The folder the project's data came from, and this workplace's own folders.
  while IFS=: read -r line text; do
    report "$f" "$line" "$text"
  done < <(grep -noE 'shared/fixtures[^ "]*|/work/[A-Za-z0-9_./-]+' "$f")
done

if [ "$failed" -eq 0 ]; then
  echo "checked ${#checked[@]} files: every path stays inside the repository"
fi
exit "$failed"
