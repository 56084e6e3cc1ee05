#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those that are missing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libbz2-dev libssl-dev libseccomp-dev libgtk-3-dev libglib2.0-dev-bin libx11-dev libcli11-dev
  googletest libgtest-dev libgmock-dev
  bzip2 xvfb xauth xdotool x11-utils imagemagick strace
  dpkg-dev debhelper fakeroot lintian devscripts git
  file desktop-file-utils libxml2-utils xdg-utils shared-mime-info libglib2.0-bin groff-base
  appstream gettext python3-pyatspi at-spi2-core dbus-daemon
  clang libclang-rt-14-dev valgrind binutils gdb gcovr
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 python3-pefile wine wine64
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "run as root (or with sudo) to install the missing packages" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
