# shellcheck shell=bash
# Shared by the benchmark scripts (sourced, not run): tool checks, timed runs
# that start after the page cache has been written back, and medians.
#
# On a small machine the write-back of one run's files lands in the next
# run's time unless each timed run starts with `sync`; and runs of one tool
# in a row share whatever else the machine is doing at that moment, so the
# tools take turns (A B C A B C ...) and each is summed up by its median.

# The script sets bench_dir, a scratch directory, before timing anything.
bench_dir=${bench_dir:-}

# Fails clearly unless every argument is an executable program.
bench_require() {
  local missing=0 p
  for p in "$@"; do
    if [ ! -x "$p" ]; then
      echo "missing $p" >&2
      missing=1
    fi
  done
  if [ "$missing" -ne 0 ]; then
    echo "build the tools first (cmake --preset release && cmake --build build/release)," \
      "install the others (scripts/setup)" >&2
    exit 1
  fi
}

# bench_time NAME COMMAND...: writes the page cache back, then runs COMMAND
# (its output discarded) and records its wall time in seconds and its peak
# resident memory in KiB under NAME. Fails when COMMAND fails.
bench_time() {
  local name=$1
  shift
  sync
  local t0 t1
  t0=$(date +%s.%N)
  if ! /usr/bin/time -f "%M" -o "$bench_dir/last-mem" "$@" >/dev/null 2>"$bench_dir/last-err"; then
    echo "failed: $*" >&2
    cat "$bench_dir/last-err" >&2
    exit 1
  fi
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }' >>"$bench_dir/time-$name"
  tail -n 1 "$bench_dir/last-mem" >>"$bench_dir/mem-$name"
}

# The median of the numbers recorded under NAME (seconds or KiB).
bench_median() {
  sort -g "$bench_dir/$1" | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# "median s (min..max, N runs), peak KiB" of the runs recorded under NAME.
bench_summary() {
  local name=$1
  local median spread peak
  median=$(bench_median "time-$name")
  spread=$(sort -g "$bench_dir/time-$name" | awk 'NR == 1 { lo = $1 } { hi = $1 } END {
    printf "%.2f..%.2f, %d runs", lo, hi, NR }')
  peak=$(sort -g "$bench_dir/mem-$name" | tail -n 1)
  printf '%6.2f s (%s), peak %s KiB' "$median" "$spread" "$peak"
}

# The ratio of the medians of two names, to two decimals.
bench_ratio() {
  awk -v a="$(bench_median "time-$1")" -v b="$(bench_median "time-$2")" \
    'BEGIN { printf "%.2f", a / b }'
}

# Forgets the runs recorded so far (for the next package size).
bench_reset() {
  rm -f "$bench_dir"/time-* "$bench_dir"/mem-*
}

