#!/bin/sh
# The whole kill and full-disk matrix: 50 and more kill points over download,
# upgrade, uninstall and config set, and several full-disk byte counts each,
# with the matrix of cases and losses printed at the end.
#   bench/kill_matrix.sh [BUILD_DIR]      (default build/ci)
set -eu
build=${1:-build/ci}
TOMERACK_KILL_MATRIX=full exec "$build/tests/tomerack_tools_tests" \
  --gtest_filter='KillMatrixTest.*'
