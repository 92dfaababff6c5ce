#!/usr/bin/env bash
# Configures and builds the project into build/ (or $TAVELO_BUILD_DIR), as the build type
# $TAVELO_BUILD_TYPE (default RelWithDebInfo; Release for benchmark figures).
#
#   scripts/build.sh                   what the folder is configured for (the terminal and
#                                      kqdb; with the tests once run-tests.sh has run)
#   scripts/build.sh tavelo kqdb       only the named targets
#   scripts/build.sh -DBUILD_TESTING=ON  arguments starting with -D go to CMake
#
# Both commands of the README build here with the same compiler flags (warnings are errors
# in both), so running the terminal and then the tests compiles each object once.
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
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE="$type" -DTAVELO_WERROR=ON \
  "${settings[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
