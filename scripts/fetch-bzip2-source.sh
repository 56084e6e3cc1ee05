#!/usr/bin/env bash
# Fetches Debian's bzip2 source package into DEST/bzip2 for the Windows build, which compiles
# libbz2 itself: Debian ships no Windows build of it. A private sources list in DEST is used,
# so the machine's apt configuration is never touched. Does nothing when DEST/bzip2 holds it.
set -euo pipefail
dest=$(realpath -m "${1:?usage: fetch-bzip2-source.sh DEST}")
[ -f "$dest/bzip2/bzlib.c" ] && exit 0
mkdir -p "$dest/apt/lists/partial" "$dest/apt/cache/archives/partial" "$dest/download"
echo "deb-src http://deb.debian.org/debian bookworm main" > "$dest/apt/sources.list"
apt_options=(-o Dir::Etc::SourceList="$dest/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists="$dest/apt/lists" -o Dir::Cache="$dest/apt/cache")
apt-get -qq "${apt_options[@]}" update
(cd "$dest/download" && apt-get -qq "${apt_options[@]}" --download-only source bzip2)
# Unpacked with Debian's own patches applied, as Debian builds its libbz2.
rm -rf "$dest/bzip2.new"
dpkg-source --no-check -x "$dest"/download/bzip2_*.dsc "$dest/bzip2.new" >/dev/null
mv "$dest/bzip2.new" "$dest/bzip2"
