#!/bin/sh
# Links made natively before the tests run: Wine cannot make junctions or
# links to folders itself, but shows a Unix symbolic link to a folder as one.
# The tests reach this folder through drive Z:, and as the network share
# \\srv\share, which a link in the Wine prefix ($2) makes without a server;
# a test maps a persistent network drive to it as Windows keeps one
# (RegistryOverride::AddNetworkDrive).
set -e
root="$1"
rm -rf "$root"
mkdir -p "$2/dosdevices/unc/srv"
ln -sfn "$root" "$2/dosdevices/unc/srv/share"
mkdir -p "$root/tree/sub" "$root/outside" "$root/emptytarget" "$root/givenTarget" "$root/locations/nested" "$root/other"
echo keep > "$root/outside/keep.txt"
echo keep > "$root/givenTarget/keep.txt"
echo f > "$root/tree/sub/f.txt"
ln -s ../outside "$root/tree/link"
ln -s ../emptytarget "$root/tree/emptylink"
ln -s givenTarget "$root/given"
# A data folder of network locations: its own two, a link back up the tree
# (a loop) and a link to a folder with another location file.
touch "$root/locations/own.loc" "$root/locations/nested/deep.loc" "$root/other/foreign.loc"
ln -s .. "$root/locations/loop"
ln -s ../other "$root/locations/elsewhere"
# Per thread count of the end-to-end tree jobs: a case-sensitive source with
# two names Windows takes for one, a link out of the tree and one back up, and
# a restore target whose file and folder are links to places outside it.
for threads in 1 4; do
  e2e="$root/e2e-$threads"
  mkdir -p "$e2e/src/sub" "$e2e/outside" "$e2e/restore"
  printf upper > "$e2e/src/Index.html"
  printf lower > "$e2e/src/index.html"
  printf b > "$e2e/src/sub/b.txt"
  printf kept > "$e2e/outside/secret.txt"
  ln -s ../outside "$e2e/src/out-link"
  ln -s .. "$e2e/src/sub/loop"
  ln -s ../outside/secret.txt "$e2e/restore/Index.html"
  ln -s ../outside "$e2e/restore/sub"
done
# Names a plug-in must not act through: a read-only file and a folder
# outside the working folder, links to each, a link whose target is
# missing, and a folder holding another link to the file.
through="$root/through"
mkdir -p "$through/outside/dir" "$through/work/folder"
printf outside > "$through/outside/target.txt"
printf inside > "$through/outside/dir/inner.txt"
chmod 444 "$through/outside/target.txt"
ln -s ../outside/target.txt "$through/work/filelink"
ln -s ../outside/dir "$through/work/dirlink"
ln -s ../outside/missing.txt "$through/work/dangling"
ln -s ../../outside/target.txt "$through/work/folder/inner-link"
# Hostile trees for the main job end to end: links on both sides to files
# outside the target, dangling links, a link planted under the name the host
# writes c.txt's replacement under (TemporaryPathFor; the test checks the
# name), a DST link back to its own SRC file, a DST file that is its SRC file
# under a second name (a hard link), a DST file that is another name of the
# read-only file outside (its replacement must leave that file as it is), a
# source entry that never ends, and a
# name holding a backslash beside the folder and file it would spell. What
# lies in outside/ must stay as it is, bytes and mode.
h="$root/hostile"
mkdir -p "$h/src" "$h/dst" "$h/outside" "$h/local"
printf 'read-only outside' > "$h/outside/ro.txt"
chmod 444 "$h/outside/ro.txt"
printf planted > "$h/outside/planted.txt"
for f in a b c d f; do printf "new-$f" > "$h/src/$f.txt"; done
printf old-c > "$h/dst/c.txt"
ln "$h/src/f.txt" "$h/dst/f.txt"
printf new-g > "$h/src/g.txt"
ln "$h/outside/ro.txt" "$h/dst/g.txt"
mkdir "$h/src/sep"
printf good > "$h/src/sep/b"
printf bad > "$h/src/sep\\b"
while read -r target name; do ln -s "$target" "$h/$name"; done <<LINKS
/dev/zero src/zero
../outside/planted.txt src/e.txt
../outside/ro.txt dst/a.txt
../outside/absent-b.txt dst/b.txt
../outside/planted.txt dst/~diskway-045b179ae3dab8f4.partial
../src/d.txt dst/d.txt
../outside/ro.txt local/link.txt
../outside/absent-local.txt local/dangling.txt
LINKS
# Files and folders of several modes, which Wine shows as DACLs: what ACL
# copying carries, and what a copy without it loses.
m="$root/modes"
mkdir -p "$m/private" "$m/shared"
printf p > "$m/private.txt"
printf s > "$m/shared.txt"
printf x > "$m/run.sh"
chmod 600 "$m/private.txt"
chmod 755 "$m/run.sh"
chmod 700 "$m/private"
# Two names that are not UTF-8, which Wine gives as one name (U+FFFD for
# each byte it cannot convert), beside one it reads exactly.
mkdir -p "$root/inexact"
printf a > "$root/inexact/$(printf 'bad\377.txt')"
printf b > "$root/inexact/$(printf 'bad\376.txt')"
printf c > "$root/inexact/good.txt"
