#!/usr/bin/env bash
# Throughput and peak memory of HttpDownloadRange (through
# `tomerack-tool http range`) against `curl -s -o`, both fetching the same
# 512 MiB file from the same demo service on loopback, side by side in one
# run. A 64 MiB run of the tool shows whether its memory grows with the size.
#
#   bench/http_range.sh [build-dir]     (default build/release)
#
# Goals: at least 0.9 of curl's throughput; the same peak memory for 64 and
# 512 MiB. Timings depend on the machine, so a missed goal is reported, not
# failed. Exit status: 0, 1 when the downloads differ, 2 when something is
# missing.
set -euo pipefail
export LC_ALL=C

build=${1:-build/release}
tool=$build/tools/tomerack-tool
demo=$build/demo/tomerack-demo-service
size_mib=512
small_mib=64
runs=3

for cmd in curl cmp awk date mktemp /usr/bin/time; do
  if ! command -v "$cmd" >/dev/null; then
    echo "missing command: $cmd" >&2
    exit 2
  fi
done
for program in "$tool" "$demo"; do
  if [[ ! -x $program ]]; then
    echo "missing program: $program (build the release preset first)" >&2
    exit 2
  fi
done

work=$(mktemp -d)
demo_pid=""
cleanup() {
  [[ -n $demo_pid ]] && kill "$demo_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$demo" --port 0 --port-file "$work/port" --stop-after 900 --big-file-mib "$size_mib" \
  >"$work/demo.out" 2>&1 &
demo_pid=$!
for ((i = 0; i < 200; ++i)); do
  [[ -s $work/port ]] && break
  sleep 0.05
done
[[ -s $work/port ]] || { echo "the demo service did not start" >&2; exit 2; }
url="http://127.0.0.1:$(cat "$work/port")/data/big.bin"

# Wall seconds and peak resident kilobytes of one run: "SECONDS KB".
measure() {
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/rss" "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" -v m="$(cat "$work/rss")" 'BEGIN { printf "%.4f %d\n", e - s, m }'
}


best_tool="" best_curl="" rss_tool=0 rss_curl=0
for ((r = 0; r < runs; ++r)); do
  # Alternating, so that neither side always runs on a warmer cache.
  read -r t m < <(measure "$tool" http range "$url" "$work/tool-$r.bin")
  best_tool=$(awk -v t="$t" -v b="$best_tool" 'BEGIN { if (b == "" || t < b) b = t; print b }')
  ((m > rss_tool)) && rss_tool=$m
  read -r t m < <(measure curl -s -o "$work/curl-$r.bin" "$url")
  best_curl=$(awk -v t="$t" -v b="$best_curl" 'BEGIN { if (b == "" || t < b) b = t; print b }')
  ((m > rss_curl)) && rss_curl=$m
  if ! cmp -s "$work/tool-$r.bin" "$work/curl-$r.bin"; then
    echo "the downloads differ" >&2
    exit 1
  fi
  rm -f "$work/tool-$r.bin" "$work/curl-$r.bin"
done

# The same tool on a smaller file: its peak memory must not depend on size.
kill "$demo_pid" 2>/dev/null || true
wait "$demo_pid" 2>/dev/null || true
rm -f "$work/port"
"$demo" --port 0 --port-file "$work/port" --stop-after 900 --big-file-mib "$small_mib" \
  >"$work/demo.out" 2>&1 &
demo_pid=$!
for ((i = 0; i < 200; ++i)); do
  [[ -s $work/port ]] && break
  sleep 0.05
done
small_url="http://127.0.0.1:$(cat "$work/port")/data/big.bin"
read -r _ rss_small < <(measure "$tool" http range "$small_url" "$work/small.bin")

bytes=$((size_mib * 1024 * 1024))
awk -v n="$bytes" -v tt="$best_tool" -v tc="$best_curl" -v mt="$rss_tool" -v mc="$rss_curl" \
  -v ms="$rss_small" -v big="$size_mib" -v small="$small_mib" 'BEGIN {
  rt = n / 1048576 / tt; rc = n / 1048576 / tc; ratio = rt / rc
  goal = "MISSED"; if (ratio >= 0.9) goal = "met"
  printf "HttpDownloadRange %d MiB: %.3f s, %.0f MiB/s, peak RSS %d KiB\n", big, tt, rt, mt
  printf "curl -s -o        %d MiB: %.3f s, %.0f MiB/s, peak RSS %d KiB\n", big, tc, rc, mc
  printf "throughput ratio (tool / curl): %.2f (goal >= 0.90: %s)\n", ratio, goal
  growth = mt - ms; verdict = "constant"; if (growth >= 2048) verdict = "GROWS"
  printf "tool peak RSS %d MiB file: %d KiB, %d MiB file: %d KiB (growth %d KiB: %s)\n", small, ms, big, mt, growth, verdict
}'
