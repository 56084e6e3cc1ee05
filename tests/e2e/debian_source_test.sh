#!/usr/bin/env bash
# The Debian packages of debian/, as a packager builds them: the checkout cloned into a folder
# of its own (the source tree stays as it is; what is built is the checkout's last commit), then
# dpkg-buildpackage -us -uc -b there (and the source package, dpkg-source -b). aze and winqor each hold the files that
# docs/packaging.md gives them and no other, install into a scratch root with dpkg -x, carry
# Debian's hardening, and work together there; lintian finds no error and no warning in them.
# The build skips its own tests (nocheck): the suite runs them already, and a second build of
# them would cost minutes.
# usage: debian_source_test.sh SOURCE_DIR BUILD_DIR
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/debian_lib.sh"
source_dir=$(readlink -f "$1")
build=$(readlink -f "$2")
docs_dir=$source_dir/docs
for tool in git dpkg-buildpackage dpkg-checkbuilddeps dh lintian readelf; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
git -C "$source_dir" rev-parse --git-dir > /dev/null 2>&1 ||
  { echo "SKIP: $source_dir is no git checkout"; exit 77; }
(cd "$source_dir" && dpkg-checkbuilddeps -Pnocheck) ||
  { echo "SKIP: the build dependencies above are not installed"; exit 77; }
umask 022

# A fixed place in the build folder, so that a compiler cache finds the same paths next time.
place=$build/debian-source
rm -rf "$place" && mkdir -p "$place"
echo "building commit $(git -C "$source_dir" rev-parse --short HEAD)"
source_status=$(git -C "$source_dir" status --porcelain)
[ -z "$(git -C "$source_dir" status --porcelain --untracked-files=no)" ] ||
  echo "note: the checkout has uncommitted changes, which this build leaves out"
expect_status 0 "git clone" -- git clone --quiet --no-hardlinks "$source_dir" "$place/winqor"
# The source package first, from the clean clone (a native source package is the whole tree).
expect_status 0 "dpkg-source -b" -- sh -c "cd '$place' && dpkg-source -b winqor"
if command -v ccache > /dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
expect_status 0 "dpkg-buildpackage -us -uc -b" -- sh -c "cd '$place/winqor' &&
  DEB_BUILD_OPTIONS='nocheck parallel=$(nproc)' dpkg-buildpackage -us -uc -b -Pnocheck > '$place/build.log' 2>&1"
[ "$status" -eq 0 ] || { tail -n 40 "$place/build.log"; finish; exit; }
cd "$work"
expect_equal "the checkout is as it was" "$(git -C "$source_dir" status --porcelain)" "$source_status"

version=$(cd "$place/winqor" && dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
aze_deb=$place/aze_${version}_$arch.deb
winqor_deb=$place/winqor_${version}_$arch.deb
for deb in "$aze_deb" "$winqor_deb" "$place/aze-dbgsym_${version}_$arch.deb"; do
  checks=$((checks + 1))
  [ -f "$deb" ] || fail "no $(basename "$deb")"
done
expect_documented_contents "the aze package" "$aze_deb" "aze both" aze
expect_documented_contents "the winqor package" "$winqor_deb" "winqor both" winqor

# aze runs without GTK; winqor needs its aze, whose package defines the .aze type.
aze_depends=$(dpkg-deb -f "$aze_deb" Depends)
checks=$((checks + 1))
! grep -qE 'libgtk|libgdk|libx11' <<<"$aze_depends" || fail "aze depends on a toolkit: $aze_depends"
expect_match "aze's Depends names libseccomp2" "$aze_depends" "(^|, )libseccomp2( |,|$)"
expect_match "winqor depends on its aze" "$(dpkg-deb -f "$winqor_deb" Depends)" \
  "(^|, )aze \(= $version\)(,|$)"
expect_match "winqor's Depends names GTK" "$(dpkg-deb -f "$winqor_deb" Depends)" "(^|, )libgtk-3-0( |,|$)"

mkdir root
for deb in "$aze_deb" "$winqor_deb"; do
  expect_status 0 "dpkg -x $(basename "$deb")" -- dpkg -x "$deb" root
done
aze=$work/root/usr/bin/aze
winqor=$work/root/usr/bin/winqor

# Debian's hardening: position-independent, read-only relocations bound at start, the stack
# protector. hardening-check (devscripts) also looks for the fortified functions, and for
# branch protection, which Debian's flags give only from dpkg 1.22 on (not in Debian 12).
hardening_features=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --query-features hardening |
  awk '/^Feature:/ {feature = $2} /^Enabled: yes/ {print feature}')
hardening_options=()
grep -qx branch <<<"$hardening_features" || hardening_options+=(--nocfprotection)
for program in "$aze" "$winqor"; do
  name=$(basename "$program")
  expect_match "$name is position-independent" "$(readelf -hW "$program")" "Type: +DYN"
  expect_match "$name has read-only relocations" "$(readelf -lW "$program")" "GNU_RELRO"
  expect_match "$name binds its symbols at start" "$(readelf -dW "$program")" "\(FLAGS(_1)?\).*(BIND_NOW|NOW)"
  expect_match "$name has the stack protector" "$(readelf --dyn-syms -W "$program")" "__stack_chk_fail"
  if command -v hardening-check > /dev/null; then
    expect_status 0 "hardening-check $name" -- hardening-check "${hardening_options[@]}" "$program"
  fi
done
expect_stripped "the packaged aze" "$aze"
expect_stripped "the packaged winqor" "$winqor"
expect_match "aze's debug information is in aze-dbgsym" \
  "$(dpkg-deb -c "$place/aze-dbgsym_${version}_$arch.deb")" "/usr/lib/debug/\.build-id/.+\.debug$"

# winqor kept its resource table: the two packages make a self-extracting program that runs.
expect_equal "the packaged winqor ends with its resource table" "$(tail -c 8 "$winqor")" "WQRESTBL"
make_sample_archives "$aze"
expect_status 0 "the packaged aze sfx, with the packaged winqor" -- "$aze" sfx -o pack.run plain.aze
expect_status 0 "the program runs" -- env -u DISPLAY -u WAYLAND_DISPLAY ./pack.run
expect_equal "its tree" "$(describe_tree pack)" "$expected"
expect_status 0 "aze --version" -- "$aze" --version
expect_match "it names the version" "$out" "^aze $version$"
expect_match "and the licence" "$out" "^SPDX-License-Identifier: MIT$"

if command -v appstreamcli > /dev/null; then
  expect_status 0 "appstreamcli validate-tree" -- appstreamcli validate-tree --no-net --pedantic --no-color root
  expect_equal "no validator remarks on the tree" "$out$err" "✔ Validation was successful."
fi
expect_lintian_clean "the packages" "$place/winqor_${version}_$arch.changes"
expect_lintian_clean "the source package" "$place/winqor_$version.dsc"
finish
