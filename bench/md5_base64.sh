#!/usr/bin/env bash
# Throughput of `tomerack-tool md5` and `tomerack-tool base64` on a 256 MiB
# random file, against openssl md5, md5sum and base64 -w 72.
#
#   bench/md5_base64.sh [path/to/tomerack-tool]
#
# Goals: md5 at least 0.95 of the faster of openssl and md5sum; base64 at
# most 1.5 times the time of base64 -w 72. Timings are machine-dependent, so
# missing a goal is reported, not failed. Exit status: 0, 1 when the outputs
# disagree, 2 when a command is missing.
set -euo pipefail
export LC_ALL=C

tool=${1:-build/release/tools/tomerack-tool}
size_mib=256
runs=3

for cmd in openssl md5sum base64 head tr awk date stat mktemp; do
  if ! command -v "$cmd" >/dev/null; then
    echo "missing command: $cmd" >&2
    exit 2
  fi
done
if [[ ! -x $tool ]]; then
  echo "missing tool: $tool" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/random.bin
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$file"
bytes=$(stat -c %s "$file")

# Best wall time of $runs runs, in seconds; standard output is discarded.
best_time() {
  local best="" start end
  for ((i = 0; i < runs; ++i)); do
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" \
      'BEGIN { t = e - s; if (b == "" || t < b) b = t; printf "%.4f", b }')
  done
  echo "$best"
}

mib_per_s() { awk -v n="$bytes" -v t="$1" 'BEGIN { printf "%.0f", n / 1048576 / t }'; }

# Outputs first: a fast wrong answer is no answer.
tool_md5=$("$tool" md5 "$file")
openssl_md5=$(openssl md5 "$file" | awk '{ print $NF }')
md5sum_md5=$(md5sum "$file" | awk '{ print $1 }')
status=0
if [[ $tool_md5 != "$openssl_md5" || $tool_md5 != "$md5sum_md5" ]]; then
  echo "MD5 digests disagree: tool $tool_md5, openssl $openssl_md5, md5sum $md5sum_md5" >&2
  status=1
fi
# The tool ends lines with CR LF and leaves the last line open; the file's
# size is not a multiple of 3, so the padding is the same as base64's.
tool_b64=$({ "$tool" base64 "$file" | tr -d '\r'; echo; } | md5sum | awk '{ print $1 }')
ref_b64=$(base64 -w 72 "$file" | md5sum | awk '{ print $1 }')
if [[ $tool_b64 != "$ref_b64" ]]; then
  echo "Base64 texts disagree (digests $tool_b64 and $ref_b64)" >&2
  status=1
fi

cat "$file" >/dev/null  # timings from the page cache only

t_tool_md5=$(best_time "$tool" md5 "$file")
t_openssl=$(best_time openssl md5 "$file")
t_md5sum=$(best_time md5sum "$file")
t_tool_b64=$(best_time "$tool" base64 "$file")
t_base64=$(best_time base64 -w 72 "$file")

echo "file: $size_mib MiB, best of $runs runs"
printf '%-22s %8s s %6s MiB/s\n' \
  "tomerack-tool md5" "$t_tool_md5" "$(mib_per_s "$t_tool_md5")" \
  "openssl md5" "$t_openssl" "$(mib_per_s "$t_openssl")" \
  "md5sum" "$t_md5sum" "$(mib_per_s "$t_md5sum")" \
  "tomerack-tool base64" "$t_tool_b64" "$(mib_per_s "$t_tool_b64")" \
  "base64 -w 72" "$t_base64" "$(mib_per_s "$t_base64")"

awk -v tool="$t_tool_md5" -v a="$t_openssl" -v b="$t_md5sum" 'BEGIN {
  peer = a < b ? a : b
  ratio = peer / tool
  printf "md5 throughput vs faster peer: %.2f (goal >= 0.95): %s\n", ratio, (ratio >= 0.95 ? "met" : "NOT met")
}'
awk -v tool="$t_tool_b64" -v ref="$t_base64" 'BEGIN {
  ratio = tool / ref
  printf "base64 time vs base64 -w 72: %.2fx (goal <= 1.5x): %s\n", ratio, (ratio <= 1.5 ? "met" : "NOT met")
}'
exit "$status"
