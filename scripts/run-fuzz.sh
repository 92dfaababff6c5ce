#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang into build-fuzz/ (or
# $TAVELO_FUZZ_BUILD_DIR) and runs each for $TAVELO_FUZZ_SECONDS seconds (20 by default),
# two at a time, starting from the seed corpora in fuzz/corpus (left unchanged). Fails on
# any crash, sanitizer report, leak or timeout, and prints the executions of each harness.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TAVELO_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${TAVELO_FUZZ_SECONDS:-20}"

generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/Makefile" ]; then generator=(-G Ninja); fi
CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DTAVELO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
if [ -x "$symbolizer" ]; then export ASAN_SYMBOLIZER_PATH="$symbolizer"; fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

harnesses=()
for seeds in "$root"/fuzz/corpus/*/; do
  harnesses+=("$(basename "$seeds")")
done

start() {
  local name="$1"
  mkdir -p "$work/$name-corpus"
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -detect_leaks=1 \
    -print_final_stats=1 -artifact_prefix="$work/$name-" \
    "$work/$name-corpus" "$root/fuzz/corpus/$name" >"$work/$name.log" 2>&1
}

failed=0
report() {
  local name="$1" status="$2"
  local runs
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")"
  if [ "$status" -eq 0 ]; then
    echo "fuzz_$name: ${runs:-?} executions in ${seconds} s, no findings"
  else
    failed=1
    echo "fuzz_$name: FAILED (exit $status) after ${runs:-?} executions" >&2
    tail -n 60 "$work/$name.log" >&2
    for artifact in "$work/$name-"*; do
      [ -f "$artifact" ] && echo "input: $(basename "$artifact") $(od -An -c "$artifact" | head -5)" >&2
    done
  fi
}

# Two at a time: the harnesses are single-threaded, and CI machines have few cores.
for ((i = 0; i < ${#harnesses[@]}; i += 2)); do
  pids=()
  names=()
  for name in "${harnesses[@]:i:2}"; do
    start "$name" &
    pids+=($!)
    names+=("$name")
  done
  for j in "${!pids[@]}"; do
    status=0
    wait "${pids[$j]}" || status=$?
    report "${names[$j]}" "$status"
  done
done
exit "$failed"
