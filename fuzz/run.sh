#!/usr/bin/env bash
# Runs each fuzz target for SECONDS on a copy of its seed corpus (the
# repository's seeds stay as they are) and prints a line per target: its
# executions, their rate and the corpus it grew. A crash, leak or timeout
# stops with exit status 1; the input that did it is kept in
# BUILD_DIR/fuzz-artifacts/ for a regression test.
#
#   fuzz/run.sh [BUILD_DIR] [SECONDS] [TARGET...]   (default build/fuzz 20, every target)
#
# Build first: cmake --preset fuzz && cmake --build --preset fuzz
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/fuzz}")
seconds=${2:-20}
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(ls fuzz/corpus))
fi
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
work=$(mktemp -d "${TMPDIR:-/tmp}/tomerack-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
printf '%-20s %8s %12s %10s %8s  %s\n' target seconds executions 'per sec' corpus result
for target in "${targets[@]}"; do
  binary=$build/fuzz/${target}_fuzzer
  if [ ! -x "$binary" ]; then
    echo "missing $binary"; failed=1; continue
  fi
  corpus=$work/$target
  mkdir -p "$corpus" "$work/tmp-$target"
  cp fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  log=$work/$target.log
  TMPDIR=$work/tmp-$target "$binary" "$corpus" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  result=ok
  if [ $status -ne 0 ]; then
    result="FAILED (exit $status; $artifacts/$target-*)"
    failed=1
    grep -m1 -A12 -E 'ERROR: |runtime error|Deadly|SUMMARY' "$log" >&2 || tail -20 "$log" >&2
  fi
  printf '%-20s %8s %12s %10s %8s  %s\n' "$target" "$seconds" "${runs:-?}" "${rate:-?}" \
    "$(ls "$corpus" | wc -l)" "$result"
done
exit $failed
