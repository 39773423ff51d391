#!/bin/sh
# corvane-check.exe under Wine, given names in folders whose names the ANSI code page cannot
# spell (accents, Cyrillic, Japanese): the settings file, --template and --game each give what
# they give for a plain ASCII folder, the folder's name aside, and --svg names the folder in the
# picture's title as it is spelt.
#   names_under_wine.sh CHECKER_EXE SAMPLE_SETTINGS
set -u
exe=$1 sample=$2
export LC_ALL=C.UTF-8 # Wine takes the Unix command line as UTF-8
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0

# Runs the checker with the given arguments; its exit status and output (CRs dropped, the
# folder's Windows name as DIR) go to $root/<label>.
run() {
  label=$1 dir=$2
  shift 2
  (cd / && wine "$exe" "$@" >"$root/out" 2>&1 </dev/null)
  echo "exit status $?" >"$root/$label"
  tr -d '\r' <"$root/out" | sed "s|Z:$dir|DIR|g" >>"$root/$label"
}

for name in "plain" "Spiele Café" "Игры" "Größe ゲーム"; do
  dir="$root/$name"
  mkdir "$dir" && cp "$sample" "$dir/aimingSets.dat" && cp "$exe" "$dir/game.exe" || exit 1
  run "file $name" "$dir" "Z:$dir/aimingSets.dat"
  run "template $name" "$dir" --template "Z:$dir/fresh.dat"
  sed 's/$/\r/' "$sample" | cmp -s - "$dir/fresh.dat" || echo "no starter file" >>"$root/template $name"
  run "game $name" "$dir" --game "Z:$dir/game.exe" "Z:$dir/aimingSets.dat"
  run "picture $name" "$dir" --svg "Z:$dir/aim.svg" "Z:$dir/aimingSets.dat"
  grep -qF "<title>Aim points of Z:$dir/aimingSets.dat</title>" "$dir/aim.svg" ||
    { echo "FAIL: the picture's title in '$name':"; grep '<title>' "$dir/aim.svg" | sed 's/^/    /'; failed=1; }
done

for what in file template game picture; do
  grep -q "^exit status [01]$" "$root/$what plain" ||
    { echo "FAIL: $what in a plain folder:"; sed 's/^/    /' "$root/$what plain"; failed=1; }
  for name in "Spiele Café" "Игры" "Größe ゲーム"; do
    if ! cmp -s "$root/$what plain" "$root/$what $name"; then
      echo "FAIL: $what in '$name' differs from a plain folder:"
      diff "$root/$what plain" "$root/$what $name" | sed 's/^/    /'
      failed=1
    fi
  done
done
[ $failed = 0 ] && echo "corvane-check: names in any script work as ASCII ones do"
exit $failed
