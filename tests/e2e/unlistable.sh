#!/bin/sh
# A DST folder that may be written into and passed through but not listed
# is not taken for empty: its file fails, named with the reason, and stays
# as it was. A folder of the plug-in's data folder that cannot be read is
# named in a warning, not passed over in silence. Root lists every folder, so the host (diskway-host.exe, $1) runs
# without the capabilities that allow that, in a Wine prefix of its own (in
# $2), whose wineserver then starts without them too.
set -u
[ "$(id -u)" = 0 ] && command -v capsh >/dev/null || { echo "needs root and capsh (libcap2-bin)"; exit 77; }
tree="$2/tree"
rm -rf "$tree" && mkdir -p "$tree/src" "$tree/dst"
printf new > "$tree/src/f.txt"
printf old > "$tree/dst/f.txt"
chmod 300 "$tree/dst"
mkdir -p "$tree/data/hidden-locations" && chmod 300 "$tree/data/hidden-locations"
virtual=$(printf 'Z$%s' "$tree" | tr / '\\')
output=$(capsh --drop=cap_dac_override,cap_dac_read_search -- -c \
  "WINEPREFIX='$2/wineprefix' WINEDEBUG=-all wine '$1' backup '$virtual\\src' '$virtual\\dst'" 2>&1)
code=$?
# ls of that folder, and stat of an item in a folder that cannot be passed
# through, fail with the reason instead of showing nothing.
mkdir -p "$tree/closed" && printf c > "$tree/closed/c.txt" && chmod 600 "$tree/closed"
for command in "ls '$virtual\\dst'" "stat '$virtual\\closed\\c.txt'"; do
  shown=$(capsh --drop=cap_dac_override,cap_dac_read_search -- -c \
    "WINEPREFIX='$2/wineprefix' WINEDEBUG=-all wine '$1' $command" 2>&1)
  [ $? = 1 ] && printf '%s\n' "$shown" | grep -q "^diskway-host: .*\(cannot list .*: Can.t get folder listing\|cannot be read: \)" ||
    { printf '%s: exit 1 with the reason expected:\n%s\n' "$command" "$shown"; exit 1; }
done
info=$(capsh --drop=cap_dac_override,cap_dac_read_search -- -c \
  "WINEPREFIX='$2/wineprefix' WINEDEBUG=-all wine '$1' --data '$(printf 'Z:%s' "$tree/data" | tr / '\\')' info" 2>&1)
printf '%s\n' "$info" | grep -q "^WARNING: Computer: cannot read the folder '.*hidden-locations' below the data folder" ||
  { printf 'no warning names the unreadable folder of the data folder:\n%s\n' "$info"; exit 1; }
# Wine opens a folder only where it may list it, so there the plug-in cannot
# hold DST, and the job is refused at its start (2) with the reason; Windows
# holds it for passing through, and the file fails (1).
[ "$(cat "$tree/dst/f.txt")" = old ] && [ "$(ls -A "$tree/dst")" = f.txt ] &&
  { { [ "$code" = 1 ] && printf '%s\n' "$output" | grep -q "^    f.txt" &&
      printf '%s\n' "$output" | grep -q "cannot be listed"; } ||
    { [ "$code" = 2 ] && printf '%s\n' "$output" | grep -q "^diskway-host: cannot create DST .*(0x00000005)"; }; } &&
  exit 0
printf 'exit code %s (1 expected); DST holds %s, f.txt "%s" ("old" expected)\n%s\n' \
  "$code" "$(ls -A "$tree/dst")" "$(cat "$tree/dst/f.txt")" "$output"
exit 1
