#!/bin/sh
# A DST folder that may be written into and passed through but not listed
# is not taken for empty: its file fails, named with the reason, and stays
# as it was. Root lists every folder, so the host (diskway-host.exe, $1) runs
# without the capabilities that allow that, in a Wine prefix of its own (in
# $2), whose wineserver then starts without them too.
set -u
[ "$(id -u)" = 0 ] && command -v capsh >/dev/null || { echo "needs root and capsh (libcap2-bin)"; exit 77; }
tree="$2/tree"
rm -rf "$tree" && mkdir -p "$tree/src" "$tree/dst"
printf new > "$tree/src/f.txt"
printf old > "$tree/dst/f.txt"
chmod 300 "$tree/dst"
virtual=$(printf 'Z$%s' "$tree" | tr / '\\')
output=$(capsh --drop=cap_dac_override,cap_dac_read_search -- -c \
  "WINEPREFIX='$2/wineprefix' WINEDEBUG=-all wine '$1' backup '$virtual\\src' '$virtual\\dst'" 2>&1)
code=$?
[ "$code" = 1 ] && [ "$(cat "$tree/dst/f.txt")" = old ] && [ "$(ls -A "$tree/dst")" = f.txt ] &&
  printf '%s\n' "$output" | grep -q "^    f.txt" && printf '%s\n' "$output" | grep -q "cannot be listed" && exit 0
printf 'exit code %s (1 expected); DST holds %s, f.txt "%s" ("old" expected)\n%s\n' \
  "$code" "$(ls -A "$tree/dst")" "$(cat "$tree/dst/f.txt")" "$output"
exit 1
