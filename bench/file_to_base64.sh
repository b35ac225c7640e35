#!/usr/bin/env bash
# FileToBase64 of a 50 MiB file through the real bridge, from a page of the
# running client, against base64 -w 72 on the same file. Rounds interleave
# the two; the page times its own call (performance.now() around it), so the
# client's start-up is not counted. Prints each round, the medians with their
# spread, and the ratio (goal: at most 2).
#
#   bench/file_to_base64.sh [BUILD_DIR] [ROUNDS] [MIB]
#   (defaults build/release 5 50)
set -euo pipefail
build=${1:-build/release}
rounds=${2:-5}
mib=${3:-50}
for p in "$build/app/tomerack" /usr/bin/xvfb-run base64; do
  command -v "$p" >/dev/null || { echo "missing $p (cmake --preset release && cmake --build build/release)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/base64-bench-XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
program=$work/program
cmake --install "$build" --prefix "$program" >/dev/null
head -c $((mib << 20)) /dev/urandom >"$program/data.bin"
mkdir -p "$program/DTM/bench"
cat >"$program/DTM/bench/base64.html" <<'PAGE'
<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var ext = window.external;
var path = ext.SystemPara("DIR_MODULE") + "/data.bin";
var started = performance.now();
var text = ext.FileToBase64(path);
var ms = performance.now() - started;
ext.AppInterface_log("R:result=ms=" + ms.toFixed(0) + " length=" + text.length);
ext.QuitApp();
</script></body></html>
PAGE
mkdir -p "$program/system"
printf '[system]\nstartpage=DTM/bench/base64.html\n' >"$program/system/tomerack.ini"

page_ms=() tool_ms=()
for round in $(seq "$rounds"); do
  sync
  t0=$(date +%s%N)
  base64 -w 72 "$program/data.bin" >/dev/null
  t1=$(date +%s%N)
  tool=$(((t1 - t0) / 1000000))
  rm -rf "$program/log"
  sync
  TOMERACK_MESSAGE_LOG=$work/messages.txt XDG_RUNTIME_DIR=$work \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$program/tomerack" >/dev/null 2>&1
  result=$(grep -ho 'R:result=.*' "$program"/log/log*.txt | tail -1 | tr -d '\r' | cut -d= -f2-)
  page=$(sed -n 's/^ms=\([0-9]*\).*/\1/p' <<<"$result")
  echo "round $round: base64 -w 72 ${tool} ms, page FileToBase64 ${page} ms ($result)"
  page_ms+=("$page") tool_ms+=("$tool")
done

median() { sort -n | awk '{v[NR]=$1} END {printf "%s [%s..%s]", v[int((NR+1)/2)], v[1], v[NR]}'; }
page_median=$(printf '%s\n' "${page_ms[@]}" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
tool_median=$(printf '%s\n' "${tool_ms[@]}" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')
echo "base64 -w 72 (ms):          median $(printf '%s\n' "${tool_ms[@]}" | median) over $rounds rounds"
echo "page FileToBase64 (ms):     median $(printf '%s\n' "${page_ms[@]}" | median) over $rounds rounds"
awk -v p="$page_median" -v t="$tool_median" \
  'BEGIN {printf "ratio page / base64: %.2f (goal: at most 2)\n", p / (t > 0 ? t : 1)}'
