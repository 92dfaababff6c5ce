# Sourced by the room checks: reads room_borders.txt and answers what a source may include.
#
#   borders_load FILE            reads the table
#   borders_key SOURCE           prints the table line's first field that SOURCE follows
#   borders_permits SOURCE HEADER    succeeds when SOURCE may include HEADER ("query/AdoQuery.h")

declare -A BORDER_GROUPS=()
declare -A BORDER_RULES=()

borders_load() {
  local first rest
  while read -r first rest; do
    case "$first" in
    '' | '#'*) continue ;;
    =*) BORDER_GROUPS["${first#=}"]="$rest" ;;
    *) BORDER_RULES["$first"]="$rest" ;;
    esac
  done <"$1"
  [ "${#BORDER_RULES[@]}" -gt 0 ] || { echo "no rules in $1" >&2; return 2; }
}

borders_key() {
  local source="$1" key best=
  for key in "${!BORDER_RULES[@]}"; do
    case "$key" in
    */) case "$source" in "$key"*) ;; *) continue ;; esac ;;
    *) [ "$source" = "$key" ] || continue ;;
    esac
    [ "${#key}" -gt "${#best}" ] && best="$key"
  done
  [ -n "$best" ] && echo "$best"
}

borders_permits() {
  local source="$1" header="$2" key entry
  key="$(borders_key "$source")" || return 1
  local folder="${header%/*}/"
  local entries=()
  for entry in ${BORDER_RULES[$key]}; do
    case "$entry" in
    =*) entries+=(${BORDER_GROUPS[${entry#=}]}) ;;
    *) entries+=("$entry") ;;
    esac
  done
  for entry in "${entries[@]}"; do
    case "$entry" in
    */) [ "$folder" = "$entry" ] && return 0 ;;
    *) [ "$header" = "$entry" ] && return 0 ;;
    esac
  done
  return 1
}
