#!/bin/sh
# locations add --password-stdin with no line at all on standard input is
# refused with exit code 2 and stores nothing; an empty line is an empty
# password, stored. $1 runs $2 (diskway-host.exe) under Wine; $3 is the data
# folder.
set -u
launcher="$1" host="$2" folder="$3"
rm -rf "$folder" && mkdir -p "$folder"
data=$(printf 'Z:%s' "$folder" | tr / '\\')
add() { "$launcher" "$host" --data "$data" locations add "$1" --share '\\srv\share' --drive Y: --user u --password-stdin; }
output=$(add none </dev/null 2>&1)
code=$?
[ "$code" = 2 ] && [ ! -e "$folder/none.loc" ] ||
  { printf 'no input: exit %s (2 expected), %s\n%s\n' "$code" "$(ls "$folder")" "$output"; exit 1; }
output=$(printf '\n' | add empty 2>&1)
code=$?
[ "$code" = 0 ] && [ -e "$folder/empty.loc" ] ||
  { printf 'an empty line: exit %s (0 expected), %s\n%s\n' "$code" "$(ls "$folder")" "$output"; exit 1; }
