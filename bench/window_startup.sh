#!/usr/bin/env bash
# Start-up time and memory of the client's window against the smallest
# WebKitGTK program that shows the same page, side by side on one private X
# server. Time: from process start until the page's load event has changed
# the window title (polled every 10 ms, the same way for both). Memory: the
# resident size of the program and every process it started (the web and
# network processes), two seconds after the load.
# Usage: bench/window_startup.sh [BUILD_DIR] [RUNS]   (build the release preset first)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-5}
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

gcc -O2 -o "$work/minimal_webkit" bench/minimal_webkit.c $(pkg-config --cflags --libs gtk+-3.0 webkit2gtk-4.1)
cmake --install "$build" --prefix "$work/program" >/dev/null
mkdir -p "$work/program/system" "$work/run"; chmod 700 "$work/run"
cat > "$work/program/DTM/bench.html" <<'HTML'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>bench</title></head>
<body><h1>数字教材</h1><p>start-up benchmark page</p>
<script>window.addEventListener('load', function () { document.title = 'bench-loaded'; });</script></body></html>
HTML
printf '[system]\nstartpage=DTM/bench.html\n' > "$work/program/system/tomerack.ini"
page="file://$work/program/DTM/bench.html"

Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp 4>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
number=$(cat "$work/display")
export DISPLAY=":$number" XDG_RUNTIME_DIR="$work/run"

tree_rss_kib() {  # resident KiB of a process and all its descendants
  local total=0 pid
  for pid in $1 $(pgrep -P "$1" || true); do
    [ "$pid" = "$1" ] || { total=$((total + $(tree_rss_kib "$pid"))); continue; }
    total=$((total + $(awk '/VmRSS/ {print $2}' /proc/"$pid"/status 2>/dev/null || echo 0)))
  done
  echo "$total"
}

measure() {  # prints "milliseconds rss_kib"
  local start end pid
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 &
  pid=$!
  until xwininfo -root -tree 2>/dev/null | grep -q '"bench-loaded"'; do
    sleep 0.01
    if [ $(( ($(date +%s%N) - start) / 1000000 )) -gt 30000 ]; then echo "timeout" >&2; break; fi
  done
  end=$(date +%s%N)
  sleep 2
  local rss; rss=$(tree_rss_kib "$pid")
  kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
  sleep 0.5
  echo "$(( (end - start) / 1000000 )) $rss"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

: > "$work/ours"; : > "$work/minimal"
for i in $(seq "$runs"); do
  measure "$work/program/tomerack" >> "$work/ours"
  measure "$work/minimal_webkit" "$page" >> "$work/minimal"
done
ours_ms=$(cut -d' ' -f1 "$work/ours" | median); ours_rss=$(cut -d' ' -f2 "$work/ours" | median)
min_ms=$(cut -d' ' -f1 "$work/minimal" | median); min_rss=$(cut -d' ' -f2 "$work/minimal" | median)
echo "runs: $runs (medians)"
printf '%-22s %8s %12s\n' "" "start ms" "RSS MiB"
awk -v om="$ours_ms" -v orss="$ours_rss" -v mm="$min_ms" -v mrss="$min_rss" 'BEGIN {
  printf "%-22s %8d %12.1f\n", "tomerack", om, orss / 1024
  printf "%-22s %8d %12.1f\n", "minimal WebKitGTK", mm, mrss / 1024
  printf "ratio: start %.2f, memory %.2f (goal: at most 1.2 for both)\n", om / mm, orss / mrss
}'
