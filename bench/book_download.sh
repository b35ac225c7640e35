#!/usr/bin/env bash
# One book the whole way, from the demo service on loopback without a rate
# limit: tomerack-tool books download (transfer, MD5 check, extraction into
# the install directory) against curl, md5sum and unzip run one after the
# other on the same package from the same server. The two take turns for
# RUNS runs each, every run after `sync`; the medians, their spread and
# their ratio are printed. Goal: tomerack-tool at most 0.5 of the sequence.
#
#   bench/book_download.sh [BUILD_DIR] [MIB] [RUNS]    (default build/release 400 5:
#   the generator's MIB of content compress to a package of about 300 MiB)
#
# bench/book_download_throttled.sh is the same book over a line held to a
# school's rate.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
mib=${2:-400}
runs=${3:-5}
. bench/book_bench_setup.sh
book_bench_start "$build" "$mib"

# The plain tools as a person would run them, each on the last one's result.
# shellcheck disable=SC2016 # expanded by the inner shell
plain=(bash -c 'curl -sf -o "$1" "$2" && md5sum "$1" >/dev/null && unzip -qo "$1" -d "$3"'
  plain "$work/plain.zip" "$url" "$work/plain")

for _ in $(seq "$runs"); do
  "${books[@]}" uninstall b1900 >/dev/null 2>&1 || true
  bench_time tomerack "${books[@]}" download b1900
  rm -rf "$work/plain" "$work/plain.zip"
  bench_time plain "${plain[@]}"
done

diff -r "$work/plain" "$installed" >/dev/null || { echo "installed tree differs from unzip's" >&2; exit 1; }
printf 'package %s MiB from the demo service on loopback, median of %s runs each:\n' \
  "$package_mib" "$runs"
printf '  %-32s %s\n' "tomerack-tool books download" "$(bench_summary tomerack)"
printf '  %-32s %s\n' "curl + md5sum + unzip" "$(bench_summary plain)"
printf '  ratio of medians tomerack/(curl+md5sum+unzip): %s (goal <= 0.5)\n' \
  "$(bench_ratio tomerack plain)"
