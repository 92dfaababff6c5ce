#!/usr/bin/env bash
# Installs what is missing (the test tools included), builds the tests and benchmarks beside
# what the run command built (the same folder and flags: nothing is compiled twice), runs
# every test (widget tests headless), then the fuzz harnesses for a bounded time each
# (scripts/run-fuzz.sh). Arguments go to ctest (e.g. -R kqdb).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh" --tests
"$root/scripts/build.sh" -DBUILD_TESTING=ON -DTAVELO_BUILD_BENCH=ON
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
"$root/scripts/run-fuzz.sh"
