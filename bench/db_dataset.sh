#!/usr/bin/env bash
# The dataset text of a 1,000,000-row, 6-column SQLite table through the
# client's path (tomerack-tool db: SQLite ODBC driver, dataset text, UTF-8
# output) against sqlite3 -json on the same query, in one run.
#
#   bench/db_dataset.sh [path/to/tomerack-tool]
#
# Goal: no slower than 2 times sqlite3 -json. Timings are machine-dependent,
# so missing the goal is reported, not failed. Exit status: 0, 1 when the
# outputs disagree on the rows, 2 when a command is missing.
set -euo pipefail
export LC_ALL=C

tool=${1:-build/release/tools/tomerack-tool}
rows=1000000
runs=3

for cmd in sqlite3 awk date mktemp grep; do
  if ! command -v "$cmd" >/dev/null; then
    echo "missing command: $cmd" >&2
    exit 2
  fi
done
if [[ ! -x $tool ]]; then
  echo "missing tool: $tool" >&2
  exit 2
fi
if [[ ! -x /usr/bin/time ]]; then
  echo "missing command: /usr/bin/time (package time)" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The driver, registered for this run only.
printf '[SQLite3 ODBC Driver]\nDriver=libsqlite3odbc.so\nSetup=libsqlite3odbc.so\n' >"$work/odbcinst.ini"
export ODBCSYSINI=$work

db=$work/bench.db
# Numbers, ASCII texts and, in one column, Chinese text.
sqlite3 "$db" "
  create table t(id integer primary key, name text, score real, code text, qty integer, note text);
  with recursive c(i) as (select 1 union all select i + 1 from c where i < $rows)
  insert into t select i, '学生' || i, i * 0.5, printf('C%08d', i), i % 1000,
                       'note \"' || (i % 97) || '\" \\ end' from c;"
query="select * from t"

# Outputs first: a fast wrong answer is no answer.
"$tool" db "$db" --sql "$query" >"$work/ours.json"
sqlite3 -json "$db" "$query" >"$work/sqlite3.json"
status=0
if ! grep -q "\"Rows\":\"$rows\"" "$work/ours.json"; then
  echo "tomerack-tool did not report $rows rows" >&2
  status=1
fi
if ! grep -q "学生$rows\"" "$work/ours.json" || ! grep -q "学生$rows\"" "$work/sqlite3.json"; then
  echo "the last row is missing from an output" >&2
  status=1
fi

# Best wall time and the peak memory of that run, over $runs runs.
best_run() {
  local best="" best_kb="" line t kb
  for ((i = 0; i < runs; ++i)); do
    line=$(/usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -n 1)
    t=${line% *}
    kb=${line#* }
    if [[ -z $best ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$t
      best_kb=$kb
    fi
  done
  echo "$best $best_kb"
}

read -r t_sqlite kb_sqlite < <(best_run sqlite3 -json "$db" "$query")
read -r t_tool kb_tool < <(best_run "$tool" db "$db" --sql "$query")

echo "table: $rows rows x 6 columns, best of $runs runs"
printf '%-28s %6s s  peak %6d MiB  output %5d MiB\n' \
  "tomerack-tool db --sql" "$t_tool" $((kb_tool / 1024)) $(($(stat -c %s "$work/ours.json") / 1048576)) \
  "sqlite3 -json" "$t_sqlite" $((kb_sqlite / 1024)) $(($(stat -c %s "$work/sqlite3.json") / 1048576))
awk -v tool="$t_tool" -v ref="$t_sqlite" 'BEGIN {
  ratio = tool / ref
  printf "time vs sqlite3 -json: %.2fx (goal <= 2x): %s\n", ratio, (ratio <= 2 ? "met" : "NOT met")
}'
exit "$status"
