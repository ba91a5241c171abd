#!/usr/bin/env bash
# The package as a user receives it: checked against SHA256SUMS, unpacked into
# an empty folder outside the build tree and run from there under a Wine
# prefix of its own, so that no path Windows searches holds anything of the
# build: the host can load the plug-in, VMLib and the provider only from its
# own folder.
#   package_test.sh DIST_DIR PACKAGE_NAME VERSION WINDRES OBJDUMP
set -euo pipefail
dist=$1 name=$2 version=$3 windres=$4 objdump=$5
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset WINEPATH
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { wine "$@" | tr -d '\r'; }

(cd "$dist" && sha256sum --check --quiet SHA256SUMS) || fail "SHA256SUMS does not match the files in $dist"
cd "$work" && cmake -E tar xf "$dist/$name.zip"
# What an application takes stands apart from the stand-ins for its own
# libraries, which only the reference host uses.
runtime="libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll"
[ "$(ls "$work/$name" | xargs)" = "README.txt plugin reference" ] || fail "the package holds: $(ls "$work/$name" | xargs)"
[ "$(ls "$work/$name/plugin" | sort | xargs)" = "$(printf '%s\n' Diskway.dll $runtime | sort | xargs)" ] ||
  fail "plugin/ holds: $(ls "$work/$name/plugin" | xargs)"
folder="$work/$name/reference"
shipped="Diskway.dll VMLib.dll vsnp_2003.dll vsnp_xp.dll diskway-host.exe"
expected="$(printf '%s\n' $shipped $runtime | sort)"
[ "$(ls "$folder" | sort)" = "$expected" ] || fail "reference/ holds: $(ls "$folder" | xargs)"
for file in $shipped; do
  if "$objdump" -h "$folder/$file" | grep -q '\.debug_'; then fail "$file ships its debug information"; fi
  "$objdump" -h "$dist/$name-debug/$file.debug" | grep -q '\.debug_info' || fail "no debug file beside the package for $file"
done

IFS=. read -r major minor patch tweak <<<"$version"
numbers="$major, ${minor:-0}, ${patch:-0}, ${tweak:-0}"
for file in $shipped; do
  resources="$("$windres" -i "$folder/$file" -O rc)" || fail "$file has no readable resources"
  for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "\"FileVersion\", \"$version\"" \
              "\"ProductVersion\", \"$version\"" "\"OriginalFilename\", \"$file\"" '"ProductName", "Diskway"'; do
    grep -qF "$line" <<<"$resources" || fail "the version resource of $file lacks $line: $resources"
  done
done

cd "$work"
info="$(run "$folder/diskway-host.exe" info)" || fail "info failed: $info"
grep -qx "Plug-in: *Computer $version" <<<"$info" || fail "GetPluginInfo does not report $version: $info"

# The demo's held file is read through vsnp_2003.dll, which then meets Wine's
# stub of the shadow-copy service: its reason shows the provider was loaded.
demo="$(run "$folder/diskway-host.exe" demo 'C:\package-demo')" || fail "the demo's backup or verify failed: $demo"
grep -q "Cannot load vssapi.dll" <<<"$demo" || fail "the provider was not loaded from the package: $demo"
trees="$WINEPREFIX/drive_c/package-demo"
difference="$(diff -r "$trees/source" "$trees/backup" || true)"
[ "$difference" = "Only in $trees/source/logs: held-open.log" ] || fail "the backup differs from its source: $difference"
echo "package $name: layout, versions ($version), info, backup and verify checked"
