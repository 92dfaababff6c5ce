#!/usr/bin/env bash
# Cold start of the terminal window, one fresh process per run: the application object,
# the window, the employee list loaded and painted. Prints every run and the median.
#
#   bench/startup_time.sh [employees [runs]]
#
# Default 1000 employees, 7 runs. The program is bench_gui_startup of the build
# ($TAVELO_BUILD_DIR or build/); it runs on the offscreen platform unless
# QT_QPA_PLATFORM says otherwise. The database is made before the clock starts.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
program="$build/bench/bench_gui_startup"
employees="${1:-1000}"
runs="${2:-7}"
if [ ! -x "$program" ]; then
    echo "startup_time: no executable at $program" >&2
    exit 2
fi
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

totals=()
for _ in $(seq "$runs"); do
    line="$("$program" --once --employees "$employees" 2>/dev/null)"
    echo "$line"
    totals+=("$(sed -n 's/.*total_ms=\([0-9.]*\).*/\1/p' <<<"$line")")
done
median="$(printf '%s\n' "${totals[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"
echo "employees=$employees runs=$runs median_total_ms=$median"
