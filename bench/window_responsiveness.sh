#!/usr/bin/env bash
# The window while a book of about 300 MiB is downloaded, verified and
# installed: a page polls "BookDownload" every second and calls TestIt every
# 50 ms. Prints, per run and as median [min..max] over the runs, the longest
# stall of the client's UI loop (a 10 ms timer's lateness, TOMERACK_LOOP_WATCH)
# and the 99th percentile and longest time of the page's calls.
#
#   bench/window_responsiveness.sh [BUILD_DIR] [RUNS] [MIB]
#   (defaults build/release 5 400: 400 MiB of content pack to about 300 MiB)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-5}
mib=${3:-400}
demo=$build/demo/tomerack-demo-service
make_package=$build/bench/tomerack-make-package
for p in "$build/app/tomerack" "$build/tools/tomerack-tool" "$demo" "$make_package" /usr/bin/xvfb-run; do
  [ -x "$p" ] || { echo "missing $p (cmake --preset release && cmake --build build/release)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/window-bench-XXXXXX")
demo_pid=
cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$make_package" "$work/book.zip" "$mib" $((mib * 10)) >/dev/null
echo "package: $(du -m "$work/book.zip" | cut -f1) MiB"
"$demo" --port 0 --port-file "$work/port" --stop-after 7200 --extra-package "$work/book.zip" \
  >/dev/null &
demo_pid=$!
for _ in $(seq 300); do [ -s "$work/port" ] && break; sleep 0.1; done
server="127.0.0.1:$(cat "$work/port")"

page='<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var ext = window.external;
function cmd(fn, para) {
  return ext.AppInterface(JSON.stringify({Function: fn, Callback: "", SessionID: "", ID: "", Para: para}));
}
function log(k, v) { ext.AppInterface_log("R:" + k + "=" + v); }
var calls = [], polls = [], state = "login", started = Date.now();
function timed(list, f) { var t = performance.now(); var r = f(); list.push(performance.now() - t); return r; }
function pct(list, p) { var s = list.slice().sort(function (a, b) { return a - b; });
  return s.length ? s[Math.min(s.length - 1, Math.floor(s.length * p))].toFixed(1) : "0"; }
function status() {
  var d = JSON.parse(cmd("Request", {Type: "BookDownload"})).Para.Data;
  for (var i = 0; i + 3 < d.length; i += 4) if (d[i] === "b1900") return d[i + 3];
  return "";
}
ext.SetGlobalPara("uid", "bench"); ext.SetGlobalPara("sessionid", "s");
cmd("Report", {Type: "Login"});
setInterval(function () { timed(calls, function () { return ext.TestIt("a", 5); }); }, 50);
var poll = setInterval(function () {
  if (Date.now() - started > 900000) { log("timeout", state); ext.QuitApp(); }
  if (state === "login") {
    var c = JSON.parse(cmd("Request", {Type: "Tomerack"}));
    if (c.Function !== "TomerackRequest") {
      state = "download";
      log("download", JSON.parse(cmd("Request", {Type: "bookOperate", Data: {Type: "download", bsid: "b1900"}})).Return);
    }
    return;
  }
  var s = timed(polls, status);
  if (s === "\u5df2\u5b89\u88c5") {
    clearInterval(poll);
    log("result", "seconds=" + ((Date.now() - started) / 1000).toFixed(1) + " calls=" + calls.length +
        " testit_p99_ms=" + pct(calls, 0.99) + " testit_max_ms=" + pct(calls, 1) +
        " poll_p99_ms=" + pct(polls, 0.99) + " poll_max_ms=" + pct(polls, 1));
    log("calls", calls.concat(polls).map(function (x) { return x.toFixed(1); }).join(","));
    ext.QuitApp();
  }
}, 1000);
</script></body></html>'

stalls=() p99s=()
for run in $(seq "$runs"); do
  program=$work/program
  rm -rf "$program"
  cmake --install "$build" --prefix "$program" >/dev/null
  config() { "$program/tomerack-tool" config --program-dir "$program" set "$1" "$2" >/dev/null; }
  config serverlist "app#demo#1#1#$server;dat#demo#1#1#$server;cor#demo#1#1#$server"
  config wwwhome_app 'http://$SERVER$/'
  config wwwhome_data 'http://$SERVER_DATA$/data'
  config url_getTomeRack 'http://$SERVER$/api/tomerack'
  config _CONFIG_EF_token demo-token
  mkdir -p "$program/DTM/bench"
  printf '%s' "$page" >"$program/DTM/bench/poll.html"
  printf '[system]\nstartpage=DTM/bench/poll.html\n' >"$program/system/tomerack.ini"
  sync
  TOMERACK_LOOP_WATCH=$work/watch.txt TOMERACK_MESSAGE_LOG=$work/messages.txt \
    XDG_RUNTIME_DIR=$work xvfb-run -a -s "-screen 0 1280x1024x24" "$program/tomerack" \
    >/dev/null 2>&1
  result=$(grep -ho 'R:result=.*' "$program"/log/log*.txt | tail -1 | tr -d '\r' | cut -d= -f2-)
  watch=$(cat "$work/watch.txt")
  echo "run $run: $watch $result"
  grep -ho 'R:calls=.*' "$program"/log/log*.txt | tail -1 | tr -d '\r' | cut -d= -f2 | tr ',' '\n' \
    >>"$work/all-calls.txt"
  stalls+=("$(sed -n 's/.*longest_stall_ms=\([0-9.]*\).*/\1/p' <<<"$watch")")
  p99s+=("$(sed -n 's/.*testit_p99_ms=\([0-9.]*\).*/\1/p' <<<"$result")")
done

summary() {
  sort -n | awk '{v[NR]=$1} END {printf "median %s [%s..%s] over %d runs\n", v[int((NR+1)/2)], v[1], v[NR], NR}'
}
echo "longest UI-loop stall (ms, goal < 100): $(printf '%s\n' "${stalls[@]}" | summary)"
echo "page call p99 (ms, goal < 20):          $(printf '%s\n' "${p99s[@]}" | summary)"
echo "page call p99 of all runs' calls pooled: $(sort -n "$work/all-calls.txt" | awk '{v[NR]=$1} END {i=int(NR*0.99); if (i<1) i=1; printf "%s ms of %d calls (max %s)\n", v[i], NR, v[NR]}')"
