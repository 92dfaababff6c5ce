#!/usr/bin/env bash
# Proves that the build itself keeps the rooms' borders: for one compiled source of every line
# of room_borders.txt, its own compile command (from the build folder's compile_commands.json)
# preprocesses a probe that includes a header of each room. A header the line forbids must be
# missing for that command ("No such file or directory"); one it permits must be found, so the
# probe cannot pass by failing for some other reason.
#
#   rooms_build_refuses_border_crossing.sh BUILD_DIR [ROOT]
set -uo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
build="$(realpath "${1:?usage: $0 BUILD_DIR [ROOT]}")"
root="$(realpath "${2:-$here/../..}")"
# shellcheck source=room_borders.sh
source "$here/room_borders.sh"
borders_load "$here/room_borders.txt" || exit 2
commands="$build/compile_commands.json"
[ -f "$commands" ] || { echo "$commands is missing: configure the build first" >&2; exit 2; }

# One header of each room, and of each narrower view a room offers another.
probes=(platform/Clock.h platform/gui/FontSubstitutes.h log/ErrMsg.h query/DbBackend.h
  query/AdoConnection.h sqlite/SqliteDatabase.h sqlite/SqliteBackend.h postgres/PgBackend.h
  attendance/AttendanceTerminal.h attendance/LocalStore.h interchange/DevSchema.h
  controls/RxClock.h app/QuorelMain.h)
for header in "${probes[@]}"; do
  [ -f "$root/$header" ] || { echo "probe header $header is not in the repository" >&2; exit 2; }
done

# file<TAB>directory<TAB>command, the command unescaped from JSON.
mapfile -t entries < <(awk '
  /"directory":/ { sub(/^[^:]*: *"/, ""); sub(/",? *$/, ""); dir = $0 }
  /"command":/ { sub(/^[^:]*: *"/, ""); sub(/",? *$/, ""); cmd = $0 }
  /"file":/ { sub(/^[^:]*: *"/, ""); sub(/",? *$/, ""); print $0 "\t" dir "\t" cmd }
' "$commands")

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
declare -A sourceFor=()
for entry in "${entries[@]}"; do
  file="${entry%%$'\t'*}"
  case "$file" in "$root"/*) ;; *) continue ;; esac
  relative="${file#"$root"/}"
  key="$(borders_key "$relative")" || continue
  [ -n "${sourceFor[$key]:-}" ] || sourceFor["$key"]="$entry"
done

failed=0
checked=0
for key in "${!BORDER_RULES[@]}"; do
  entry="${sourceFor[$key]:-}"
  if [ -z "$entry" ]; then
    case "$key" in
    *.cpp | */) echo "$key: no compiled source in $commands" >&2; failed=1 ;;
    esac
    continue
  fi
  IFS=$'\t' read -r file dir command <<<"$entry"
  relative="${file#"$root"/}"
  command="$(printf '%s' "$command" | sed -e 's/\\\\/\x01/g' -e 's/\\"/"/g' -e 's/\x01/\\/g')"
  eval "words=($command)"
  args=()
  skip=0
  for word in "${words[@]:1}"; do
    if [ "$skip" -eq 1 ]; then skip=0; continue; fi
    case "$word" in
    -o | -c | -MF | -MT | -MQ) skip=1 ;;
    -MD | -MMD | "$file") ;;
    *) args+=("$word") ;;
    esac
  done
  compiler="${words[0]}"
  case "$compiler" in */ccache | ccache) compiler="${args[0]}"; args=("${args[@]:1}") ;; esac
  for header in "${probes[@]}"; do
    probe="$scratch/probe.cpp"
    printf '#include "%s"\n' "$header" >"$probe"
    output="$(cd "$dir" && "$compiler" "${args[@]}" -E -o /dev/null "$probe" 2>&1)"
    status=$?
    checked=$((checked + 1))
    if borders_permits "$relative" "$header"; then
      if [ "$status" -ne 0 ]; then
        echo "$relative ($key): may include $header, but its compile command cannot:" >&2
        echo "$output" | head -5 >&2
        failed=1
      fi
    elif [ "$status" -eq 0 ]; then
      echo "$relative ($key): must not include $header, yet its compile command finds it" >&2
      failed=1
    elif ! grep -q "$header: No such file or directory" <<<"$output"; then
      echo "$relative ($key): including $header failed, but not for want of the file:" >&2
      echo "$output" | head -5 >&2
      failed=1
    fi
  done
done

[ "$failed" -eq 0 ] && echo "the build refuses every border crossing it was offered ($checked probes)"
exit "$failed"
