#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (widget tests headless), then the
# fuzz harnesses for a bounded time each (scripts/run-fuzz.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
# Tests build warning-free or not at all.
"$root/scripts/build.sh" -DTAVELO_WERROR=ON
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
"$root/scripts/run-fuzz.sh"
