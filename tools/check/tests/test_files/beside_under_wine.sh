#!/bin/sh
# corvane-check.exe as a player uses it, under Wine: double-clicked (no arguments, started from
# another folder) in a folder whose name the ANSI code page cannot spell, beside the sample, the
# sample saved as aimingSets.dat.txt, nothing at all; and --template writing the starter file.
# Then corvane in a folder below the checker, and nowhere. A copy of the checker stands in for
# the game's program (a 32-bit program of no known build) and for corvane.dll (only its name
# counts).
set -u
exe=$1 sample=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dir="$root/Игры 游戏"
mkdir "$dir" && cp "$exe" "$dir/corvane-check.exe" && cp "$exe" "$dir/game.exe" &&
    cp "$exe" "$dir/corvane.dll" && cp "$sample" "$dir/aimingSets.dat" || exit 1

failed=0
fail() { echo "FAIL: $*"; sed 's/^/    /' "$root/text"; failed=1; }

# Runs the checker from / with the given arguments; its exit status in $status, its output,
# without CRs, in $root/text.
check() {
    (cd / && wine "$dir/corvane-check.exe" "$@" >"$root/out" 2>&1 </dev/null)
    status=$?
    tr -d '\r' <"$root/out" >"$root/text"
}
says() { grep -qF -- "$1" "$root/text"; }

check
[ $status = 0 ] || fail "beside the sample: exit status $status, not 0"
says "result              clean" || fail "beside the sample: no clean result"
says 'Игры 游戏\aimingSets.dat' || fail "beside the sample: the folder's name is not spelled right"
says 'game.exe' || fail "beside the sample: the program beside it is not reported"

mv "$dir/aimingSets.dat" "$dir/aimingSets.dat.txt"
check
[ $status = 2 ] || fail "saved as .txt: exit status $status, not 2"
says "Found aimingSets.dat.txt: corvane looks for aimingSets.dat exactly" ||
    fail "saved as .txt: the mistake is not named"
says "clean" && fail "saved as .txt: called clean"
grep -v '^$' "$root/text" | tail -n 1 | grep -qF "until it is renamed to aimingSets.dat." ||
    fail "saved as .txt: the last line does not say that corvane will not read it"

rm "$dir/aimingSets.dat.txt"
check
[ $status = 2 ] || fail "nothing: exit status $status, not 2"
says "There is no aimingSets.dat in" || fail "nothing: not said"

(cd "$dir" && wine corvane-check.exe --template aimingSets.dat >/dev/null 2>&1 </dev/null) ||
    fail "--template FILE failed"
sed 's/$/\r/' "$sample" | cmp -s - "$dir/aimingSets.dat" ||
    { : >"$root/text"; fail "--template FILE is not the sample with CR LF line ends"; }
check
[ $status = 0 ] || fail "the written starter file: exit status $status, not 0"

# The checker in the game's folder, corvane and its settings in a loader's folder below.
mkdir "$dir/plugins" && mv "$dir/corvane.dll" "$dir/aimingSets.dat" "$dir/plugins/" || exit 1
printf 'not the settings corvane reads\n' >"$dir/aimingSets.dat"
check
[ $status = 0 ] || fail "corvane below: exit status $status, not 0"
says "Found corvane.dll in the folder plugins below corvane-check" ||
    fail "corvane below: not found, or not said"
says 'plugins\aimingSets.dat' || fail "corvane below: not its settings file checked"
says "result              clean" || fail "corvane below: its settings are not called clean"

# No corvane at all: what the file holds, never "clean".
rm "$dir/plugins/corvane.dll" "$dir/aimingSets.dat"
mv "$dir/plugins/aimingSets.dat" "$dir/"
check
[ $status = 2 ] || fail "no corvane: exit status $status, not 2"
says "There is no corvane.dll beside corvane-check" || fail "no corvane: not said"
says "clean" && fail "no corvane: called clean"

[ $failed = 0 ] && echo "corvane-check beside its files: all as expected"
exit $failed
