#!/usr/bin/env bash
# Idle CPU of a running GUI program: starts it under Xvfb, lets it settle, then reads the
# process's utime+stime from /proc/<pid>/stat over a fixed window.
#
#   bench/idle_cpu.sh [program [args...]]
#
# Default program: the build's terminal ($TAVELO_BUILD_DIR or build/, binary tavelo).
# IDLE_SECONDS (default 10) and SETTLE_SECONDS (default 3) change the timing;
# IDLE_LIMIT_PCT, when set, makes the script fail above that share of one core.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_BUILD_DIR:-$root/build}"
if [ $# -eq 0 ]; then
    set -- "$build/tavelo"
fi
if [ ! -x "$1" ]; then
    echo "idle_cpu: no executable at $1" >&2
    exit 2
fi
window="${IDLE_SECONDS:-10}"
settle="${SETTLE_SECONDS:-3}"
hz="$(getconf CLK_TCK)"

work="$(mktemp -d)"
pidfile="$work/pid"
# The shell writes its own pid and then becomes the program, so the pid is the program's.
xvfb-run -a -s "-screen 0 1024x768x24" \
    bash -c 'echo $$ > "$0"; exec "$@"' "$pidfile" "$@" >"$work/out.log" 2>&1 &
runner=$!

cleanup()
{
    if [ -s "$pidfile" ]; then
        kill "$(cat "$pidfile")" 2>/dev/null || true
    fi
    wait "$runner" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

for _ in $(seq 100); do
    [ -s "$pidfile" ] && break
    sleep 0.1
done
pid="$(cat "$pidfile" 2>/dev/null || true)"
if [ -z "$pid" ]; then
    echo "idle_cpu: program did not start" >&2
    cat "$work/out.log" >&2
    exit 1
fi

# Fields 14 and 15 of /proc/<pid>/stat, counted after the command name (which may hold spaces).
cpu_ticks()
{
    local stat
    stat="$(cat "/proc/$pid/stat")" || return 1
    stat="${stat##*) }"
    # After "pid (comm) " the state is field 3, so utime and stime are words 12 and 13.
    set -- $stat
    echo $((${12} + ${13}))
}

sleep "$settle"
if ! kill -0 "$pid" 2>/dev/null; then
    echo "idle_cpu: program exited during start-up" >&2
    cat "$work/out.log" >&2
    exit 1
fi
start_ticks="$(cpu_ticks)"
start_ns="$(date +%s%N)"
sleep "$window"
end_ticks="$(cpu_ticks)"
end_ns="$(date +%s%N)"

used=$((end_ticks - start_ticks))
awk -v used="$used" -v hz="$hz" -v ns="$((end_ns - start_ns))" -v prog="$1" -v limit="${IDLE_LIMIT_PCT:-}" 'BEGIN {
    secs = ns / 1e9
    pct = 100 * used / hz / secs
    printf "%s: %d ticks (%.2f s CPU) in %.1f s wall: %.2f%% of one core\n", prog, used, used / hz, secs, pct
    if (limit != "" && pct > limit) exit 1
}'
