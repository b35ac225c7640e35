#!/usr/bin/env bash
# One book of about 300 MiB, the whole way: tomerack-tool books download
# (transfer, MD5 check, extraction into the install directory) against the
# sum of curl + md5sum + unzip on the same package from the same demo
# service, in one run. Wall time is the best of three, warm cache.
#
#   bench/book_download.sh [BUILD_DIR] [MIB]    (default build/release 400: the
#   generator's MIB of content compress to a package of about 300 MiB)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
mib=${2:-400}
tool=$build/tools/tomerack-tool
demo=$build/demo/tomerack-demo-service
make_package=$build/bench/tomerack-make-package
for p in "$tool" "$demo" "$make_package" /usr/bin/curl /usr/bin/md5sum /usr/bin/unzip; do
  [ -x "$p" ] || { echo "missing $p (cmake --preset release && cmake --build build/release)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/book-bench-XXXXXX")
demo_pid=
cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$make_package" "$work/book.zip" "$mib" $((mib * 10)) >/dev/null
"$demo" --port 0 --port-file "$work/port" --stop-after 3600 --extra-package "$work/book.zip" \
  >/dev/null &
demo_pid=$!
for _ in $(seq 300); do [ -s "$work/port" ] && break; sleep 0.1; done
server="127.0.0.1:$(cat "$work/port")"

program=$work/program
config() { "$tool" config --program-dir "$program" set "$1" "$2" >/dev/null; }
config serverlist "app#demo#1#1#$server;dat#demo#1#1#$server;cor#demo#1#1#$server"
config wwwhome_app 'http://$SERVER$/'
config wwwhome_data 'http://$SERVER_DATA$/data'
config url_getTomeRack 'http://$SERVER$/api/tomerack'
config _CONFIG_EF_token demo-token
books() { "$tool" books --program-dir "$program" --uid bench "$@"; }
books sync >/dev/null

now() { date +%s.%N; }
url="http://$server/data/books/g1900/g1900.zip"
best_ours="" best_sum=""
for _ in 1 2 3; do
  books uninstall b1900 >/dev/null 2>&1 || true
  t0=$(now)
  books download b1900 >/dev/null
  t1=$(now)

  rm -rf "$work/plain" "$work/plain.zip"
  t2=$(now)
  curl -s -o "$work/plain.zip" "$url"
  t3=$(now)
  md5sum "$work/plain.zip" >/dev/null
  t4=$(now)
  unzip -qo "$work/plain.zip" -d "$work/plain"
  t5=$(now)

  ours=$(awk "BEGIN{print $t1 - $t0}")
  sum=$(awk "BEGIN{print $t5 - $t2}")
  printf 'run: tomerack-tool %.2f s | curl %.2f + md5sum %.2f + unzip %.2f = %.2f s\n' \
    "$ours" "$(awk "BEGIN{print $t3 - $t2}")" "$(awk "BEGIN{print $t4 - $t3}")" \
    "$(awk "BEGIN{print $t5 - $t4}")" "$sum"
  if [ -z "$best_ours" ] || awk "BEGIN{exit !($ours < $best_ours)}"; then best_ours=$ours; fi
  if [ -z "$best_sum" ] || awk "BEGIN{exit !($sum < $best_sum)}"; then best_sum=$sum; fi
done

size=$(( $(stat -c %s "$work/book.zip") / 1048576 ))
diff -r "$work/plain" "$program/data/books/books/g1900/g1900" >/dev/null &&
  echo "installed tree equals unzip's" || { echo "trees differ"; exit 1; }
printf 'package %d MiB: tomerack-tool %.2f s, curl+md5sum+unzip %.2f s, ratio %.2f (goal <= 1)\n' \
  "$size" "$best_ours" "$best_sum" "$(awk "BEGIN{print $best_ours / $best_sum}")"
