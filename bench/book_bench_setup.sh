# shellcheck shell=bash
# Shared by the book download benchmarks (sourced, not run): a generated
# book published by the demo service, and a program directory whose
# tomerack-tool knows the service and the book.
#
# book_bench_start BUILD_DIR MIB [DEMO_OPTION...] sets:
#   work       a scratch directory, removed at exit (the demo service stops then too)
#   bench_dir  the same, for bench_common.sh
#   books      the command array "tomerack-tool books --program-dir ... --uid bench"
#   url        the package's address on the demo service
#   installed  where tomerack-tool installs the book
#   package_mib  the package file's size in MiB
# The generator's MIB of content compress to about three quarters as much.
. bench/bench_common.sh

# shellcheck disable=SC2034 # the variables are the caller's
book_bench_start() {
  local build=$1 mib=$2
  shift 2
  tool=$build/tools/tomerack-tool
  local demo=$build/demo/tomerack-demo-service
  local make_package=$build/bench/tomerack-make-package
  bench_require "$tool" "$demo" "$make_package" /usr/bin/curl /usr/bin/md5sum /usr/bin/unzip \
    /usr/bin/time
  [ "$mib" -ge 1 ] || { echo "MIB must be 1 or more" >&2; exit 2; }

  work=$(mktemp -d "${TMPDIR:-/tmp}/book-bench-XXXXXX")
  bench_dir=$work
  demo_pid=
  trap 'book_bench_stop' EXIT
  "$make_package" "$work/book.zip" "$mib" $((mib * 10)) >/dev/null
  package_mib=$(($(stat -c %s "$work/book.zip") / 1048576))
  "$demo" --port 0 --port-file "$work/port" --stop-after 7200 --extra-package "$work/book.zip" \
    "$@" >/dev/null &
  demo_pid=$!
  for _ in $(seq 300); do [ -s "$work/port" ] && break; sleep 0.1; done
  [ -s "$work/port" ] || { echo "the demo service did not start" >&2; exit 1; }
  local server
  server="127.0.0.1:$(cat "$work/port")"
  url="http://$server/data/books/g1900/g1900.zip"

  local program=$work/program
  local entry
  # shellcheck disable=SC2016 # placeholders the client fills, not the shell
  for entry in "serverlist=app#demo#1#1#$server;dat#demo#1#1#$server;cor#demo#1#1#$server" \
               'wwwhome_app=http://$SERVER$/' 'wwwhome_data=http://$SERVER_DATA$/data' \
               'url_getTomeRack=http://$SERVER$/api/tomerack' _CONFIG_EF_token=demo-token; do
    "$tool" config --program-dir "$program" set "${entry%%=*}" "${entry#*=}" >/dev/null
  done
  books=("$tool" books --program-dir "$program" --uid bench)
  "${books[@]}" sync >/dev/null
  installed=$program/data/books/books/g1900/g1900
}

book_bench_stop() {
  if [ -n "${demo_pid:-}" ]; then
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
    demo_pid=
  fi
  rm -rf "$work"
}
