#!/usr/bin/env bash
# The Debian package, built with cpack from this build folder, unpacked into a temporary root
# with dpkg -x, and its programs run from there: aze on archives it wrote (and on the reference
# archives of another writer when they are there), a self-extracting program made with the
# installed aze and winqor, winqor on its own; it holds the files that docs/packaging.md lists,
# and lintian (when installed) finds no error and no warning in it. Then
# `cmake --install --strip`, which must leave winqor's resource table in place too, and the
# debug component, beside which a debugger finds winqor's functions and lines.
# With WINDOWS (a build that cross-builds winqor.exe), the package also carries winqor.exe, and
# the installed aze sfx --windows makes an installer that unpacks under Wine.
# usage: package_test.sh BUILD_DIR VECTORS_DIR [WINDOWS]
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/debian_lib.sh"
docs_dir=$(readlink -f "$(dirname "$0")/../../docs")
build=$(readlink -f "$1")
vectors=$2
windows=${3:-}
# What every self-extracting program adds to its archive, at most: the stripped winqor with its
# sandbox, switches, listing, licence (its window and terminal pager), --info and free-space
# check (about 393 kB in a test build, whose sandbox probe it carries), with room to grow a
# little.
max_overhead=$((408 * 1024))
for tool in cpack dpkg-deb dpkg-shlibdeps readelf strip appstreamcli; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
cd "$work"
umask 022

# The winqor that aze sfx copies: no debug information and no symbol table, its resource
# table at the end, and no larger than strip makes it plus that table.
expect_lean_stub() {
  local what=$1 program=$2
  checks=$((checks + 1))
  ! readelf -SW "$program" | grep -qE ' \.(debug_[a-z_]+|symtab) ' ||
    fail "$what carries debug information or a symbol table"
  expect_equal "$what ends with its resource table" "$(tail -c 8 "$program")" "WQRESTBL"
  cp "$program" "$work/restripped" && strip --strip-all "$work/restripped"
  local extra=$(($(stat -c %s "$program") - $(stat -c %s "$work/restripped")))
  checks=$((checks + 1))
  [ "$extra" -le 4096 ] || fail "$what is $extra bytes larger than stripped"
}

# A self-extracting program adds little to its archive.
expect_small_overhead() {
  local what=$1 program=$2 archive=$3
  local overhead=$(($(stat -c %s "$program") - $(stat -c %s "$archive")))
  echo "$what: $overhead bytes more than its archive"
  checks=$((checks + 1))
  [ "$overhead" -le "$max_overhead" ] || fail "$what adds $overhead bytes to its archive"
}

expect_status 0 "cpack" -- cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package"
deb=$(ls package/*.deb 2> /dev/null | head -n 1)
[ -n "$deb" ] || { fail "no package written: $out $err"; finish; exit; }
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libbz2-1.0 libc6 libgtk-3-0 libseccomp2 libssl3 libstdc++6; do
  expect_match "Depends names $library" "$depends" "(^|, )${library//+/\\+}( |,|$)"
done
expect_equal "section" "$(dpkg-deb -f "$deb" Section)" "utils"
expect_match "maintainer" "$(dpkg-deb -f "$deb" Maintainer)" ".+ <.+@.+>"
expect_match "description" "$(dpkg-deb -f "$deb" Description)" "aze"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
expect_documented_contents "the package" "$deb" "aze winqor both${windows:+ windows}" winqor
checks=$((checks + 1))
! grep -q 'winqor\.debug' <<<"$contents" || fail "the package holds winqor's debug information"
if command -v lintian > /dev/null; then
  expect_lintian_clean "the package" "$deb"
else
  skip_checks 2 "lintian is not installed"
fi

mkdir root
expect_status 0 "dpkg -x" -- dpkg -x "$deb" root
aze=$work/root/usr/bin/aze
winqor=$work/root/usr/bin/winqor
checks=$((checks + 1))
cmp -s "$winqor" "$build/bin/winqor" || fail "the installed winqor differs from the built one"
expect_lean_stub "the installed winqor" "$winqor"
expect_stripped "the installed aze" "$aze"
# The licence, machine-readable, where Debian looks for it.
copyright=$(cat root/usr/share/doc/winqor/copyright 2> /dev/null)
expect_match "the copyright file is machine-readable" "$copyright" \
  "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
expect_match "it names the licence" "$copyright" "^License: MIT$"
# Software centres read the installed tree: the metainfo, its desktop entry and icon together,
# and the release it names is the package's version.
expect_status 0 "appstreamcli validate-tree" -- appstreamcli validate-tree --no-net --pedantic --no-color root
expect_equal "no validator remarks on the tree" "$out$err" "✔ Validation was successful."
expect_match "the metainfo's release is the package's" "$(cat root/usr/share/metainfo/org.winqor.winqor.metainfo.xml)" \
  "<release version=\"$(dpkg-deb -f "$deb" Version)\""

# --- the installed aze on archives it wrote, and on the reference archives ---
expect_status 0 "installed aze --version" -- "$aze" --version
expect_match "it names the package's version" "$out" "^aze $(dpkg-deb -f "$deb" Version)$"
expect_match "and the licence" "$out" "^SPDX-License-Identifier: MIT$"
make_sample_archives "$aze"
expect_status 0 "installed aze extracts" -- "$aze" extract -C plain-out plain.aze
expect_equal "plain tree" "$(describe_tree plain-out)" "$expected"
expect_status 0 "installed aze extracts the encrypted archive" -- \
  sh -c "printf 'Secret1\n' | '$aze' extract --password-file - -C enc-out encrypted.aze"
expect_equal "encrypted tree" "$(describe_tree enc-out)" "$expected"
expect_status 1 "installed aze refuses a wrong password" -- \
  sh -c "printf 'secret1\n' | '$aze' test --password-file - encrypted.aze"
if have_vectors "$vectors"; then
  mkdir reference && cp "$vectors/plain.aze" "$vectors/encrypted.aze" reference/
  expect_status 0 "installed aze extracts the reference archive" -- "$aze" extract -C reference/out reference/plain.aze
  expect_equal "its tree" "$(describe_tree reference/out)" "$(LC_ALL=C sort "$vectors/expected-tree.txt")"
else
  skip_checks 2 "$(no_vectors_reason "$vectors")"
fi

# --- a self-extracting program from the installed aze and the winqor beside it ---
mkdir dist
expect_status 0 "installed aze sfx, stub found beside it" -- "$aze" sfx -o dist/pack.run plain.aze
expect_small_overhead "the program" dist/pack.run plain.aze
expect_status 0 "the program runs" -- env -u DISPLAY -u WAYLAND_DISPLAY dist/pack.run
expect_equal "its tree" "$(describe_tree dist/pack)" "$expected"
expect_status 0 "a folder packed by the installed aze" -- "$aze" sfx -o dist/again.run plain-out
expect_status 0 "that program runs too" -- env -u DISPLAY -u WAYLAND_DISPLAY dist/again.run
expect_equal "its tree" "$(describe_tree dist/again)" "$expected"

# --- a Windows installer from the installed aze and the winqor.exe it ships ---
if [ -n "$windows" ]; then
  expect_match "the package holds winqor.exe" "$contents" "^\./usr/lib/winqor/winqor\.exe$"
  expect_status 0 "installed aze sfx --windows, winqor.exe found" -- \
    "$aze" sfx --windows -o dist/setup.exe plain.aze
  expect_status 0 "installed aze reads the installer back" -- "$aze" test dist/setup.exe
  if command -v wine > /dev/null; then
    prefix_script=$(dirname "$0")/../windows/wine_prefix.sh
    bash "$prefix_script" start "$work/wineprefix" || fail "no Wine prefix"
    expect_status 0 "the installer runs under Wine" -- \
      env -u DISPLAY WINEPREFIX="$work/wineprefix" WINEDEBUG=-all wine dist/setup.exe
    expect_equal "its tree" "$(describe_tree dist/setup)" "$expected"
    # With a Setup.exe (the Windows tests' stand-in, which exits as told): started, and its
    # status passed on.
    probe=$build/windows/tests/windows/setup_probe.exe
    if [ -f "$probe" ]; then
      mkdir -p win-app && cp "$probe" win-app/Setup.exe && printf 'data\n' > win-app/data.txt
      expect_status 0 "installed aze sfx --windows --run-setup" -- \
        "$aze" sfx --windows --run-setup -o dist/app-setup.exe win-app
      expect_status 3 "the installer exits with its Setup.exe's status" -- env -u DISPLAY \
        WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINQOR_PROBE_EXIT=3 wine dist/app-setup.exe
      expect_equal "beside its files" "$(cat dist/app-setup/data.txt 2>/dev/null)" "data"
    else
      skip_checks 3 "no Setup.exe stand-in in $build/windows (a build without the Windows tests)"
    fi
    bash "$prefix_script" stop "$work/wineprefix"
  fi
fi

# --- the installed winqor on its own: its placeholder survived, so it wants its window ---
expect_status 1 "installed winqor without a display" -- env -u DISPLAY -u WAYLAND_DISPLAY "$winqor"
expect_match "it says why" "$err" "^winqor: cannot open a display"
# A stripped winqor also opens its window, but it has lost the table aze sfx builds on.
expect_match "its placeholder is there" "$err" "^found SETUP_ARCHIVE resource$"
if command -v Xvfb > /dev/null && command -v xdotool > /dev/null; then
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3> display 2> /dev/null &
  xvfb=$!
  for _ in $(seq 100); do [ -s display ] && break; sleep 0.1; done
  mkdir -p home runtime && chmod 700 runtime
  DISPLAY=:$(head -n 1 display) HOME=$work/home XDG_RUNTIME_DIR=$work/runtime NO_AT_BRIDGE=1 \
    GSETTINGS_BACKEND=memory "$winqor" > /dev/null 2>&1 &
  app=$!
  checks=$((checks + 1))
  DISPLAY=:$(head -n 1 display) timeout 20 xdotool search --sync --onlyvisible --name '^winQOR$' \
    > /dev/null 2>&1 || fail "the installed winqor opened no window"
  kill "$app" "$xvfb" 2> /dev/null
  wait "$app" "$xvfb" 2> /dev/null
fi

# --- cmake --install --strip: aze may be stripped, winqor must not be ---
expect_status 0 "cmake --install --strip" -- cmake --install "$build" --prefix "$work/stripped" --strip
checks=$((checks + 1))
cmp -s "$work/stripped/bin/winqor" "$build/bin/winqor" || fail "install --strip changed winqor"
expect_status 1 "winqor of a stripped install" -- env -u DISPLAY -u WAYLAND_DISPLAY "$work/stripped/bin/winqor"
expect_match "still carries its placeholder" "$err" "^found SETUP_ARCHIVE resource$"
expect_status 0 "sfx with the winqor of a stripped install" -- \
  "$work/stripped/bin/aze" sfx -o dist/stripped.run plain.aze
expect_status 0 "its program runs" -- env -u DISPLAY -u WAYLAND_DISPLAY dist/stripped.run
expect_equal "its tree" "$(describe_tree dist/stripped)" "$expected"
expect_small_overhead "that program" dist/stripped.run plain.aze

# --- the debug component: winqor's functions and lines for a debugger ---
expect_status 0 "cmake --install --component debug" -- \
  cmake --install "$build" --prefix "$work/stripped" --component debug
checks=$((checks + 1))
[ -f "$work/stripped/bin/.debug/winqor.debug" ] || fail "no bin/.debug/winqor.debug"
if command -v gdb > /dev/null; then
  expect_status 0 "gdb on the installed winqor" -- \
    gdb -nx -batch -ex 'info line main' "$work/stripped/bin/winqor"
  expect_match "gdb finds main's file and line" "$out" '^Line [0-9]+ of "[^"]*app/main\.cpp"'
fi
finish
