#!/usr/bin/env bash
# The dataset text of a 1,000,000-row, 6-column SQLite table through the
# client's path (tomerack-tool db: SQLite ODBC driver, dataset text, UTF-8
# output) against sqlite3 -json on the same query.
#
#   bench/db_dataset.sh [path/to/tomerack-tool]        (RUNS=N for N runs each, default 5)
#
# Goals: at most 1.5 times the wall time of sqlite3 -json, and a peak memory
# of at most twice the size of the answer. The two programs run in turn, run
# after run, so that a slow spell of the machine falls on both; the medians
# are compared. Timings are machine-dependent, so a missed goal is reported,
# not failed. Exit status: 0, 1 when the answer is not the table's rows byte
# for byte, 2 when a command is missing.
set -euo pipefail
export LC_ALL=C

tool=${1:-build/release/tools/tomerack-tool}
rows=1000000
runs=${RUNS:-5}

for cmd in sqlite3 awk sort cmp tr mktemp sync stat; do
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

# Outputs first: a fast wrong answer is no answer. The expected answer is
# written by sqlite3 itself: every value as SQLite renders it as text,
# quoted, with quotes and backslashes escaped, row by row in one flat array.
escaped() { echo "replace(replace($1, '\\', '\\\\'), '\"', '\\\"')"; }
"$tool" db "$db" --sql "$query" >"$work/ours.json"
sqlite3 -json "$db" "$query" >"$work/sqlite3.json"
{
  printf '{"FileName":"%s","DBName":"%s","DBData":[\t{\t"TableName":"",\t\t"TableData":{\r\n' "$db" "$db"
  printf '\t"Rows":"%-9s,\r\n\t"Columns":"6",\r\n\t"ColumnName":["id","name","score","code","qty","note"],"Data":[' "$rows\""
  sqlite3 -noheader -list "$db" "
    select '\"' || $(escaped id) || '\",\"' || $(escaped name) || '\",\"' || $(escaped score) || '\",\"' ||
           $(escaped code) || '\",\"' || $(escaped qty) || '\",\"' || $(escaped note) || '\"'
    from t order by id;" | tr '\n' ',' | head -c -1
  printf ']\r\n}}\r\n],"Error":"0","ErrorString":""\r\n}\n'
} >"$work/expected.json"
status=0
if ! cmp "$work/ours.json" "$work/expected.json" >&2; then
  echo "tomerack-tool's answer is not the table's rows" >&2
  status=1
fi
if ! grep -q "学生$rows\"" "$work/sqlite3.json"; then
  echo "the last row is missing from sqlite3's output" >&2
  status=1
fi
rm -f "$work/expected.json" "$work/sqlite3.json"

# Wall time and peak memory of every run, the two programs in turn.
: >"$work/sqlite3.runs"
: >"$work/tool.runs"
for ((i = 0; i < runs; ++i)); do
  sync
  /usr/bin/time -f "%e %M" -a -o "$work/sqlite3.runs" sqlite3 -json "$db" "$query" >/dev/null
  sync
  /usr/bin/time -f "%e %M" -a -o "$work/tool.runs" "$tool" db "$db" --sql "$query" >/dev/null
done

# "median min max" of one field of a runs file.
stats() {
  awk -v f="$2" '{ print $f }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                              print m, v[1], v[NR] }'
}
read -r t_sqlite t_sqlite_min t_sqlite_max < <(stats "$work/sqlite3.runs" 1)
read -r t_tool t_tool_min t_tool_max < <(stats "$work/tool.runs" 1)
read -r kb_sqlite _ _ < <(stats "$work/sqlite3.runs" 2)
read -r kb_tool kb_tool_min kb_tool_max < <(stats "$work/tool.runs" 2)
answer_bytes=$(stat -c %s "$work/ours.json")

echo "table: $rows rows x 6 columns; median of $runs runs each, interleaved (min - max)"
awk -v tt="$t_tool" -v tmin="$t_tool_min" -v tmax="$t_tool_max" \
    -v st="$t_sqlite" -v smin="$t_sqlite_min" -v smax="$t_sqlite_max" \
    -v tkb="$kb_tool" -v tkbmin="$kb_tool_min" -v tkbmax="$kb_tool_max" -v skb="$kb_sqlite" \
    -v answer="$answer_bytes" 'BEGIN {
  printf "%-24s %6.2f s (%.2f - %.2f)  peak %6.1f MiB (%.1f - %.1f)\n", "tomerack-tool db --sql",
         tt, tmin, tmax, tkb / 1024, tkbmin / 1024, tkbmax / 1024
  printf "%-24s %6.2f s (%.2f - %.2f)  peak %6.1f MiB\n", "sqlite3 -json", st, smin, smax, skb / 1024
  ratio = tt / st
  memory = tkb * 1024 / answer
  printf "answer: %.1f MiB\n", answer / 1048576
  printf "time vs sqlite3 -json: %.2fx (goal <= 1.5x): %s\n", ratio, (ratio <= 1.5 ? "met" : "NOT met")
  printf "peak memory vs answer: %.2fx (goal <= 2x): %s\n", memory, (memory <= 2 ? "met" : "NOT met")
}'
exit "$status"
