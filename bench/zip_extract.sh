#!/usr/bin/env bash
# Extraction of a generated package by tomerack-tool, unzip and bsdtar, side
# by side: wall time (best of three, warm cache) and peak memory, for a
# package of about 30 MiB and one of about 300 MiB with ten times the files.
#
#   bench/zip_extract.sh [BUILD_DIR]    (default build/release; build it first)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
tool=$build/tools/tomerack-tool
make_package=$build/bench/tomerack-make-package
for p in "$tool" "$make_package" /usr/bin/unzip /usr/bin/bsdtar /usr/bin/time; do
  [ -x "$p" ] || { echo "missing $p (cmake --preset release && cmake --build build/release)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zip-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs "$@" three times into a fresh $work/out; prints "seconds peak_kib" of
# the fastest run.
measure() {
  local best="" best_mem=0
  for _ in 1 2 3; do
    rm -rf "$work/out"
    mkdir -p "$work/out"
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
    read -r secs mem <"$work/time"
    if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; fi
    [ "$mem" -gt "$best_mem" ] && best_mem=$mem
  done
  echo "$best $best_mem"
}

declare -A peak
for spec in "30 300" "300 3000"; do
  read -r mib files <<<"$spec"
  pkg="$work/package-$mib.zip"
  "$make_package" "$pkg" "$mib" "$files" >/dev/null
  size=$(( $(stat -c %s "$pkg") / 1048576 ))
  read -r t_ours m_ours < <(measure "$tool" zip extract "$pkg" "$work/out")
  # The tree must match what unzip makes of the same package.
  cp -r "$work/out" "$work/ours"
  read -r t_unzip m_unzip < <(measure unzip -qo "$pkg" -d "$work/out")
  diff -r "$work/ours" "$work/out" >/dev/null || { echo "trees differ"; exit 1; }
  rm -rf "$work/ours"
  read -r t_bsdtar m_bsdtar < <(measure bsdtar -xf "$pkg" -C "$work/out")
  rm -f "$pkg"
  peak[$mib]=$m_ours
  printf '%s MiB of content in %s files (package file %s MiB)\n' "$mib" "$files" "$size"
  printf '  %-22s %8s s  %8s KiB peak\n' "tomerack-tool zip" "$t_ours" "$m_ours" \
    "unzip -qo" "$t_unzip" "$m_unzip" "bsdtar -xf" "$t_bsdtar" "$m_bsdtar"
  awk -v a="$t_ours" -v b="$t_unzip" -v c="$t_bsdtar" 'BEGIN {
    printf "  time ratio tomerack/unzip %.2f, tomerack/bsdtar %.2f\n", a / b, a / c }'
done
awk -v a="${peak[30]}" -v b="${peak[300]}" 'BEGIN {
  printf "peak memory of tomerack-tool: 30 MiB package %d KiB, 300 MiB package %d KiB (ratio %.2f)\n", a, b, b / a }'
