#!/bin/sh
# A drive that keeps file times in whole steps (X:, an exFAT image the entry
# script mounts through exfat-fuse, as a USB drive would be): after a backup
# with each thread count, a second --incremental run skips every file and
# verify finds the copy identical. Times set natively, with digits to 1 ns.
set -u
launcher="$1" host="$2" drive="$3" src="$4"
mountpoint -q "$drive" 2>/dev/null || { echo "no exFAT drive X: (./diskway test mounts one as root)"; exit 77; }
rm -rf "$src" && mkdir -p "$src/sub"
for name in a.txt b.txt sub/c.txt; do
  printf '%s' "$name" > "$src/$name" && touch -d "2024-01-15 09:00:01.123456789" "$src/$name"
done
from=$(printf 'Z$%s' "$src" | tr / '\\')
for threads in 1 4; do
  to="X\$\\e2e-$$-$threads"
  for step in "backup:Failed:    0 items" "backup --incremental:Skipped:   3 unchanged files" \
              "verify:checked, no differences"; do
    # shellcheck disable=SC2086
    output=$("$launcher" "$host" ${step%%:*} "$from" "$to" --threads "$threads" 2>&1)
    [ $? = 0 ] && printf '%s\n' "$output" | grep -q "${step#*:}" ||
      { printf '%s (threads %s): "%s" expected:\n%s\n' "${step%%:*}" "$threads" "${step#*:}" "$output"; exit 1; }
  done
  rm -rf "$drive/e2e-$$-$threads"
done
