#!/usr/bin/env bash
# The Debian package, built with cpack from this build folder, unpacked into a temporary root
# with dpkg -x, and its programs run from there: aze on the reference archives, a
# self-extracting program made with the installed aze and winqor, winqor on its own. Then
# `cmake --install --strip`, which must leave winqor's resource table in place too.
# usage: package_test.sh BUILD_DIR VECTORS_DIR
. "$(dirname "$0")/lib.sh"
build=$(readlink -f "$1")
vectors=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -f "$vectors/plain.aze" ] || { echo "SKIP: no reference archives in $vectors"; exit 77; }
cd "$work"
umask 022
expected=$(LC_ALL=C sort "$vectors/expected-tree.txt")

expect_status 0 "cpack" -- cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package"
deb=$(ls package/*.deb 2> /dev/null | head -n 1)
[ -n "$deb" ] || { fail "no package written: $out $err"; finish; exit; }
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libbz2-1.0 libc6 libgtk-3-0 libssl3 libstdc++6; do
  expect_match "Depends names $library" "$depends" "(^|, )${library//+/\\+}( |,|$)"
done
expect_equal "section" "$(dpkg-deb -f "$deb" Section)" "utils"
expect_match "maintainer" "$(dpkg-deb -f "$deb" Maintainer)" ".+ <.+@.+>"
expect_match "description" "$(dpkg-deb -f "$deb" Description)" "aze"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in usr/bin/aze usr/bin/winqor usr/share/applications/winqor.desktop \
  usr/share/mime/packages/winqor.xml usr/share/man/man1/aze.1 usr/share/man/man1/winqor.1 \
  usr/share/bash-completion/completions/aze \
  usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/winqor.png \
  usr/share/icons/hicolor/{16x16,48x48,256x256}/mimetypes/application-x-aze.png; do
  expect_match "the package holds $path" "$contents" "^\./$path$"
done

mkdir root
expect_status 0 "dpkg -x" -- dpkg -x "$deb" root
aze=$work/root/usr/bin/aze
winqor=$work/root/usr/bin/winqor
checks=$((checks + 1))
cmp -s "$winqor" "$build/bin/winqor" || fail "the installed winqor differs from the built one"

# --- the installed aze on the reference archives ---
cp "$vectors/plain.aze" "$vectors/encrypted.aze" .
expect_status 0 "installed aze extracts" -- "$aze" extract -C plain-out plain.aze
expect_equal "plain tree" "$(describe_tree plain-out)" "$expected"
expect_status 0 "installed aze extracts the encrypted archive" -- \
  sh -c "printf 'Secret1\n' | '$aze' extract --password-file - -C enc-out encrypted.aze"
expect_equal "encrypted tree" "$(describe_tree enc-out)" "$expected"
expect_status 1 "installed aze refuses a wrong password" -- \
  sh -c "printf 'secret1\n' | '$aze' test --password-file - encrypted.aze"

# --- a self-extracting program from the installed aze and the winqor beside it ---
mkdir dist
expect_status 0 "installed aze sfx, stub found beside it" -- "$aze" sfx -o dist/pack.run plain.aze
expect_status 0 "the program runs" -- env -u DISPLAY -u WAYLAND_DISPLAY dist/pack.run
expect_equal "its tree" "$(describe_tree dist/pack)" "$expected"
expect_status 0 "a folder packed by the installed aze" -- "$aze" sfx -o dist/again.run plain-out
expect_status 0 "that program runs too" -- env -u DISPLAY -u WAYLAND_DISPLAY dist/again.run
expect_equal "its tree" "$(describe_tree dist/again)" "$expected"

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
expect_status 1 "winqor of a stripped install" -- env -u DISPLAY -u WAYLAND_DISPLAY "$work/stripped/bin/winqor"
expect_match "still carries its placeholder" "$err" "^found SETUP_ARCHIVE resource$"
expect_status 0 "sfx with the winqor of a stripped install" -- \
  "$work/stripped/bin/aze" sfx -o dist/stripped.run plain.aze
expect_status 0 "its program runs" -- env -u DISPLAY -u WAYLAND_DISPLAY dist/stripped.run
expect_equal "its tree" "$(describe_tree dist/stripped)" "$expected"
finish
