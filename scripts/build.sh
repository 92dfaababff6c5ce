#!/usr/bin/env bash
# Configures and builds the project into build/ (or $TAVELO_BUILD_DIR), as the build type
# $TAVELO_BUILD_TYPE (default RelWithDebInfo; Release for benchmark figures).
#
#   scripts/build.sh                   everything: programs, tests, benchmarks
#   scripts/build.sh tavelo kqdb       only the named targets
#   scripts/build.sh -DTAVELO_WERROR=ON  arguments starting with -D go to CMake
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
type="${TAVELO_BUILD_TYPE:-RelWithDebInfo}"
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/Makefile" ]; then generator=(-G Ninja); fi
settings=()
targets=()
for arg in "$@"; do
  case "$arg" in
  -D*) settings+=("$arg") ;;
  *) targets+=(--target "$arg") ;;
  esac
done
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE="$type" "${settings[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
