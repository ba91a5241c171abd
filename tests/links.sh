#!/bin/sh
# Links made natively before the tests run: Wine cannot make junctions or
# links to folders itself, but shows a Unix symbolic link to a folder as one.
# The tests reach this folder through drive Z:.
set -e
root="$1"
rm -rf "$root"
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
