#!/usr/bin/env bash
# Extraction of a generated package by tomerack-tool, unzip and bsdtar, side
# by side, for a package of MIB/10 MiB (one file per 100 KiB) and one of MIB
# MiB (ten times the files): the median wall time of RUNS runs of each, with
# its spread, their ratios and peak memory. The tools take turns, and each
# run starts after `sync`, so that no run pays for the last one's write-back.
# Goal: tomerack-tool at most 0.8 of bsdtar's time.
#
#   bench/zip_extract.sh [BUILD_DIR] [MIB] [RUNS]    (default build/release 300 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
mib=${2:-300}
runs=${3:-5}
tool=$build/tools/tomerack-tool
make_package=$build/bench/tomerack-make-package
. bench/bench_common.sh
bench_require "$tool" "$make_package" /usr/bin/unzip /usr/bin/bsdtar /usr/bin/time
if [ "$mib" -lt 10 ] || [ "$runs" -lt 1 ]; then
  echo "MIB must be 10 or more, RUNS 1 or more" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zip-bench-XXXXXX")
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
bench_dir=$work

# A fresh, empty output directory for each run; made before the sync.
fresh() {
  rm -rf "$work/out"
  mkdir -p "$work/out"
}

declare -A peak
for size in $((mib / 10)) "$mib"; do
  files=$((size * 10))
  pkg="$work/package-$size.zip"
  "$make_package" "$pkg" "$size" "$files" >/dev/null
  # The tree must match what unzip makes of the same package.
  fresh
  "$tool" zip extract "$pkg" "$work/out" >/dev/null
  mv "$work/out" "$work/ours"
  fresh
  unzip -qo "$pkg" -d "$work/out"
  diff -r "$work/ours" "$work/out" >/dev/null || { echo "trees differ" >&2; exit 1; }
  rm -rf "$work/ours"

  bench_reset
  for _ in $(seq "$runs"); do
    fresh
    bench_time tomerack "$tool" zip extract "$pkg" "$work/out"
    fresh
    bench_time unzip unzip -qo "$pkg" -d "$work/out"
    fresh
    bench_time bsdtar bsdtar -xf "$pkg" -C "$work/out"
  done
  peak[$size]=$(sort -g "$work/mem-tomerack" | tail -n 1)
  printf '%s MiB of content in %s files (package file %s MiB), median of %s runs each:\n' \
    "$size" "$files" "$(($(stat -c %s "$pkg") / 1048576))" "$runs"
  printf '  %-20s %s\n' "tomerack-tool zip" "$(bench_summary tomerack)"
  printf '  %-20s %s\n' "unzip -qo" "$(bench_summary unzip)"
  printf '  %-20s %s\n' "bsdtar -xf" "$(bench_summary bsdtar)"
  printf '  ratio of medians: tomerack/bsdtar %s (goal <= 0.8), tomerack/unzip %s\n' \
    "$(bench_ratio tomerack bsdtar)" "$(bench_ratio tomerack unzip)"
  rm -f "$pkg"
done
small=$((mib / 10))
awk -v s="$small" -v l="$mib" -v a="${peak[$small]}" -v b="${peak[$mib]}" 'BEGIN {
  printf "peak memory of tomerack-tool: %d MiB package %d KiB, %d MiB package %d KiB (ratio %.2f)\n",
    s, a, l, b, b / a }'
