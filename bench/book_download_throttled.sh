#!/usr/bin/env bash
# One book from the demo service held to RATE MiB/s per transfer, as a
# school's line would deliver it: tomerack-tool books download (transfer,
# MD5 check, extraction) against curl alone fetching the same package at the
# same limit. The line is the bottleneck, so the client should finish about
# when its last byte arrives: the digest and the unpacking must keep up with
# the transfer. The two take turns for RUNS runs each, every run after
# `sync`. Goal: tomerack-tool at most 1.05 of curl's time.
#
# Peak memory of tomerack-tool is also shown for a package a quarter the
# size, to show it does not grow with the package.
#
#   bench/book_download_throttled.sh [BUILD_DIR] [MIB] [RUNS] [RATE]
#   (default build/release 400 5 40: the generator's MIB of content compress
#   to a package of about 300 MiB, which takes about 8 s at 40 MiB/s)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
mib=${2:-400}
runs=${3:-5}
rate=${4:-40}
. bench/book_bench_setup.sh

# The smaller package first, for its peak memory only; then the measured one.
small=$(((mib + 3) / 4))
book_bench_start "$build" "$small" --rate-mib "$rate"
small_mib=$package_mib
for _ in $(seq "$runs"); do
  "${books[@]}" uninstall b1900 >/dev/null 2>&1 || true
  bench_time small "${books[@]}" download b1900
done
small_peak=$(sort -g "$work/mem-small" | tail -n 1)
book_bench_stop
trap - EXIT

book_bench_start "$build" "$mib" --rate-mib "$rate"
for _ in $(seq "$runs"); do
  "${books[@]}" uninstall b1900 >/dev/null 2>&1 || true
  bench_time tomerack "${books[@]}" download b1900
  rm -f "$work/curl.zip"
  bench_time curl curl -sf -o "$work/curl.zip" "$url"
done
cmp -s "$work/curl.zip" "$work/book.zip" || { echo "curl fetched other bytes" >&2; exit 1; }
[ -d "$installed" ] || { echo "the book was not installed" >&2; exit 1; }
large_peak=$(sort -g "$work/mem-tomerack" | tail -n 1)

printf 'package %s MiB from the demo service at %s MiB/s per transfer, median of %s runs each:\n' \
  "$package_mib" "$rate" "$runs"
printf '  %-32s %s\n' "tomerack-tool books download" "$(bench_summary tomerack)"
printf '  %-32s %s\n' "curl" "$(bench_summary curl)"
printf '  ratio of medians tomerack/curl: %s (goal <= 1.05)\n' "$(bench_ratio tomerack curl)"
awk -v s="$small_mib" -v l="$package_mib" -v a="$small_peak" -v b="$large_peak" 'BEGIN {
  printf "peak memory of tomerack-tool: %d MiB package %d KiB, %d MiB package %d KiB (ratio %.2f)\n",
    s, a, l, b, b / a }'
