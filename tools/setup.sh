#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian packages.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: run as root (apt-get and ip netns need it)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

packages=(
  # native build and tests
  build-essential cmake ninja-build pkg-config clang-format
  googletest libgtest-dev libcurl4-openssl-dev
  clang libclang-rt-14-dev
  # cross build of the Windows programs
  g++-mingw-w64-i686-posix mingw-w64-tools
  # the same programs for x86-64, for hosts whose Wine runs no 32-bit code
  g++-mingw-w64-x86-64-posix
  # running them: Wine on a virtual display, Japanese fonts and locale
  wine wine64 xvfb xauth x11-apps imagemagick
  fonts-ipafont-gothic fonts-wine locales
  # the test LAN and the simulated peers; links with loss, and an HTTP proxy
  iproute2 curl procps psmisc nftables tinyproxy
  # benchmarks: peak memory of a run (/usr/bin/time -v)
  time
  # the setup program (NSIS, with its amd64-unicode stubs for 64-bit test builds)
  nsis
  # signed releases: libcrypto natively; Wine's bcrypt verifies through GnuTLS
  libssl-dev openssl libgnutls30
  # the Qt desktop finder, its translations and its Debian package
  qt6-base-dev qt6-l10n-tools qt6-tools-dev libgl-dev
  dpkg-dev lintian file
  # releases: Authenticode, the apt repository and its test, the winget test
  osslsigncode apt-utils gpg python3-yaml
)

# A mirror in the middle of a sync serves an index whose size does not match
# its Release file; a few minutes later it is whole again. Try three times,
# then go on with the lists that did arrive and say which did not.
refresh_package_lists() {
  local try log failed=""
  log=$(mktemp)
  for try in 1 2 3; do
    if apt-get update -q >"$log" 2>&1 && ! grep -q '^\(E\|Err\):' "$log"; then
      rm -f "$log"
      return 0
    fi
    failed=$(sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' "$log")
    [ -n "$failed" ] || failed=$(grep '^\(E\|Err\):' "$log")
    if [ "$try" -lt 3 ]; then
      echo "setup: apt-get update failed (try $try of 3), trying again in ${SL_APT_RETRY_PAUSE:-20} s" >&2
      sleep "${SL_APT_RETRY_PAUSE:-20}"
    fi
  done
  rm -f "$log"
  echo "setup: these package indexes could not be read; going on with the lists already here:" >&2
  printf '  %s\n' $failed >&2
}

# Installs the packages; when apt-get refuses the batch, tries each alone so
# that the message names exactly what could not be installed.
install_packages() {
  apt-get install -y -q --no-install-recommends "$@" && return 0
  local p not_installed=()
  for p in "$@"; do
    apt-get install -y -q --no-install-recommends "$p" >/dev/null 2>&1 || not_installed+=("$p")
  done
  if [ ${#not_installed[@]} -gt 0 ]; then
    echo "setup: these packages could not be installed: ${not_installed[*]}" >&2
    return 1
  fi
}

# 32-bit Wine runs the shipped 32-bit build in the tests (Wine's bcrypt needs
# GnuTLS in the same architecture). Without it (a host whose kernel runs no
# 32-bit code, or an i386 index the mirror cannot serve) the tests use the
# 64-bit build of the same sources, so its absence is said, not fatal.
optional_packages=(wine32:i386 libgnutls30:i386)

not_installed() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_optional < <(not_installed "${optional_packages[@]}")

if [ $((${#missing[@]} + ${#missing_optional[@]})) -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  refresh_package_lists
  if [ ${#missing[@]} -gt 0 ]; then
    install_packages "${missing[@]}" || exit 1
  fi
  if [ ${#missing_optional[@]} -gt 0 ] && ! install_packages "${missing_optional[@]}"; then
    echo "setup: without 32-bit Wine the Windows suites run the 64-bit build (windows-x64)" >&2
  fi
fi

# Wine takes its ANSI code page from LC_ALL; the glibc locale must exist as
# well, or Japanese file names and arguments are read as ASCII. It is listed
# in /etc/locale.gen, so that a later locale-gen (the locales package runs it
# when it is installed or upgraded) keeps it.
if ! grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
  echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
fi
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  locale-gen >/dev/null 2>&1 || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' || { echo "setup: the ja_JP.UTF-8 locale could not be made" >&2; exit 1; }

# The tests start their own proxy inside the test LAN; none runs on the host.
if command -v systemctl >/dev/null 2>&1; then
  systemctl disable --now tinyproxy >/dev/null 2>&1 || true
fi
pkill -x tinyproxy 2>/dev/null || true

echo "setup: done"
