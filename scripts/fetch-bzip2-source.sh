#!/usr/bin/env bash
# Fetches Debian's bzip2 source package into DEST/bzip2 for the Windows build, which compiles
# libbz2 itself: Debian ships no Windows build of it. The source lines are the machine's own apt
# sources turned into deb-src lines (same URIs and suites) in a private list under DEST, so the
# machine's apt configuration is never touched and no mirror is named here. Does nothing when
# DEST/bzip2 already holds the source.
set -euo pipefail
dest=$(realpath -m "${1:?usage: fetch-bzip2-source.sh DEST}")
[ -f "$dest/bzip2/bzlib.c" ] && exit 0
apt_dir=$dest/apt
rm -rf "$apt_dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" "$dest/download"

# One-line lists: every "deb" line again as "deb-src".
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$list" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$list"
done > "$apt_dir/sources.list"
# deb822 lists: every stanza again with "Types: deb-src".
for list in /etc/apt/sources.list.d/*.sources; do
  [ -f "$list" ] || continue
  sed 's/^Types:.*/Types: deb-src/' "$list" > "$apt_dir/parts/$(basename "$list")"
done

apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache")
apt-get -qq "${apt_options[@]}" update
(cd "$dest/download" && apt-get -qq "${apt_options[@]}" --download-only source bzip2 2>&1 |
  grep -v "unsandboxed" || true)
# Unpacked with Debian's own patches applied, as Debian builds its libbz2.
rm -rf "$dest/bzip2.new"
dpkg-source --no-check -x "$dest"/download/bzip2_*.dsc "$dest/bzip2.new" > /dev/null
mv "$dest/bzip2.new" "$dest/bzip2"
