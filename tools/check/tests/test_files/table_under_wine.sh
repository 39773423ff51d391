#!/bin/bash
# corvane-check.exe under Wine, started as a tool starts it: its input a pipe that stays open and
# never brings an Enter. Each row of command_table.tsv must end by itself (it never waits) with
# its exit status and words, and --json must print JSON alone.
#   table_under_wine.sh CHECKER_EXE STARTER_FILE TABLE
set -u
exe=$1 starter=$2 table=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0 rows=0
while IFS=$'\t' read -r name line text args status says; do
  case $name in '#'* | '') continue ;; esac
  rows=$((rows + 1))
  mkdir -p "$root/$name"
  file=$root/$name/aimingSets.dat
  if [ "$line" = 0 ]; then cp "$starter" "$file"; else
    awk -v n="$line" -v t="$text" 'NR == n { print t; next } { print }' "$starter" >"$file"
  fi
  read -r -a words <<<"${args//FILE/Z:$file}"
  # The pipe stays open for 60 s: a checker that waited for Enter would be stopped at 30 s.
  # (A pipeline would wait for the sleep too: it is ended, by its id, once the checker is done.)
  exec 3< <(exec 2>/dev/null; exec sleep 60)
  feeder=$!
  (cd / && timeout 30 wine "$exe" "${words[@]}" >"$root/out" 2>"$root/err" <&3)
  got=$?
  exec 3<&-
  kill "$feeder" 2>/dev/null
  tr -d '\r' <"$root/out" >"$root/out.txt"
  flat=$(cat "$root/out.txt" "$root/err" | tr -d '\r' | tr -s ' \n' '  ')
  if [ "$got" != "$status" ]; then
    echo "FAIL: $name: exit status $got, not $status"; failed=1
  fi
  case $flat in *"$says"*) ;; *) echo "FAIL: $name: does not say: $says"; failed=1 ;; esac
  if [[ " $args " == *" --json "* ]] && [ "$status" != 2 ] &&
    ! python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$root/out.txt"; then
    echo "FAIL: $name: --json printed more than JSON:"; tail -3 "$root/out.txt"; failed=1
  fi
  if grep -q "Press Enter" "$root/out.txt"; then
    echo "FAIL: $name: asked for Enter with a pipe for its input"; failed=1
  fi
done <"$table"
[ "$rows" -gt 0 ] || { echo "FAIL: no rows in $table"; exit 1; }
[ $failed = 0 ] && echo "all $rows rows as in the table, none waited"
exit $failed
