#!/usr/bin/env bash
# A book of about 300 MiB installed by a click in the window (WebDriver click
# to the status word 已安装 on the card) against `tomerack-tool books
# download` of the same package from the same demo service. Median of RUNS
# interleaved runs, each after a sync.
#
#   bench/click_to_installed.sh [BUILD_DIR] [MIB] [RUNS]   (default build/release 400 5:
#   the generator's MIB of content compress to a package of about 300 MiB)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
mib=${2:-400}
runs=${3:-5}
export TOMERACK_CLIENT=$build/app/tomerack TOMERACK_TOOL=$build/tools/tomerack-tool
export TOMERACK_DEMO_SERVICE=$build/demo/tomerack-demo-service
export TOMERACK_MAKE_PACKAGE=$build/bench/tomerack-make-package
export TOMERACK_SOURCE_DIR=$PWD E2E_OUTPUT_DIR=$build/bench-output
for p in "$TOMERACK_CLIENT" "$TOMERACK_TOOL" "$TOMERACK_DEMO_SERVICE" "$TOMERACK_MAKE_PACKAGE" \
         /usr/bin/WebKitWebDriver; do
  [ -x "$p" ] || { echo "missing $p (scripts/setup; cmake --preset release && cmake --build build/release)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/click-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$TOMERACK_MAKE_PACKAGE" "$work/book.zip" "$mib" $((mib * 10)) >/dev/null
/usr/bin/python3 bench/click_to_installed.py "$work/book.zip" "$runs"
