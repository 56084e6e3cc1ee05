#!/usr/bin/env bash
# The files a Linux desktop reads: the desktop entry, the metainfo and the MIME package pass
# their validators, a private data folder built from them recognises .aze files by name and by
# content and names winqor as their program, and every icon is there at the size its folder says.
# usage: desktop_files_test.sh DATA_DIR VECTORS_DIR
. "$(dirname "$0")/lib.sh"
data=$(readlink -f "$1")
vectors=$2
for tool in desktop-file-validate appstreamcli update-desktop-database xmllint update-mime-database xdg-mime gio identify; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
cd "$work"

expect_status 0 "desktop-file-validate" -- desktop-file-validate "$data/desktop/org.winqor.winqor.desktop"
expect_equal "no validator remarks" "$out$err" ""
expect_status 0 "xmllint" -- xmllint --noout "$data/mime/winqor.xml"
# What software centres read: no error, no warning, not even a pedantic remark.
metainfo=$data/metainfo/org.winqor.winqor.metainfo.xml
expect_status 0 "appstreamcli validate" -- appstreamcli validate --no-net --pedantic --no-color "$metainfo"
expect_equal "no validator remarks" "$out$err" "✔ Validation was successful."
# The component's id, its launchable and the desktop entry's name are one and the same.
expect_match "the launchable is the desktop entry" "$(cat "$metainfo")" "<launchable type=\"desktop-id\">org.winqor.winqor.desktop</launchable>"
expect_match "the id is the desktop entry's name" "$(cat "$metainfo")" "<id>org.winqor.winqor</id>"
# The licence, as its SPDX identifier, of the program and of the metadata (the LICENSE file's).
expect_match "the program's licence" "$(cat "$metainfo")" "<project_license>MIT</project_license>"
expect_match "the metadata's licence" "$(cat "$metainfo")" "<metadata_license>MIT</metadata_license>"
expect_match "LICENSE is the MIT licence" "$(head -n 1 "$data/../LICENSE")" "^MIT License$"

# A data folder of our own, as a user's ~/.local/share would hold the installed files.
export XDG_DATA_HOME=$work/share XDG_DATA_DIRS=/usr/share XDG_CURRENT_DESKTOP=GNOME
export XDG_CONFIG_HOME=$work/config HOME=$work
mkdir -p share/mime/packages share/applications config
cp "$data/mime/winqor.xml" share/mime/packages/
cp "$data/desktop/org.winqor.winqor.desktop" share/applications/
expect_status 0 "update-mime-database" -- update-mime-database share/mime
expect_equal "the MIME package is understood" "$err" ""
expect_status 0 "update-desktop-database" -- update-desktop-database share/applications

printf 'SFXSetup and more' > by-name.aze
printf 'SFXSetup and more' > by-content
printf 'nothing of the sort' > other
have_vectors "$vectors" && cp "$vectors/plain.aze" reference.aze
cp /bin/true program.run
# "file|type": what xdg-mime answers for it.
cases=(
  "by-name.aze|application/x-aze"
  "by-content|application/x-aze"
  "other|text/plain"
  "program.run|application/x-executable"
)
if [ -f reference.aze ]; then
  cases+=("reference.aze|application/x-aze")
else
  skip_checks 2 "$(no_vectors_reason "$vectors")"
fi
for entry in "${cases[@]}"; do
  expect_status 0 "xdg-mime query filetype ${entry%%|*}" -- xdg-mime query filetype "${entry%%|*}"
  expect_equal "type of ${entry%%|*}" "$out" "${entry#*|}"
done
# GIO offers only entries whose program is on the PATH: a stand-in for winqor.
mkdir bin && printf '#!/bin/sh\n' > bin/winqor && chmod +x bin/winqor
expect_status 0 "program for .aze" -- env PATH="$work/bin:$PATH" gio mime application/x-aze
expect_match "winqor is listed for .aze files" "$out" "Registered applications:"$'\n'"[[:space:]]+org.winqor.winqor.desktop"

# Every size of the theme, both icons, each as large as its folder says.
for size in 16 22 24 32 48 64 128 256; do
  for icon in apps/winqor mimetypes/application-x-aze; do
    file="$data/icons/${size}x$size/$icon.png"
    checks=$((checks + 1))
    [ -f "$file" ] || { fail "missing $file"; continue; }
    expect_equal "size of $file" "$(identify -format '%wx%h %[channels]' "$file")" "${size}x$size srgba"
  done
done
expect_match "the entry names its icon" "$(cat "$data/desktop/org.winqor.winqor.desktop")" "^Icon=winqor$"
expect_match "the type names its icon" "$(cat "$data/mime/winqor.xml")" '<icon name="application-x-aze"/>'
finish
