#!/usr/bin/env bash
# A Wine prefix of the test run's own, whose wineserver lives inside a
# namespace of the test LAN. Wine opens every socket in the wineserver, so a
# server outside the LAN would send the programs' traffic on the machine's
# real network: `check` refuses such a prefix.
#
#   wineenv.sh arch                 win32 when this host's Wine starts 32-bit
#                                   programs, else win64
#   wineenv.sh prepare NS PREFIX ARCH   create PREFIX (win32 or win64), start
#                                   its wineserver in NS
#   wineenv.sh check NS PREFIX     exit 1 unless PREFIX's wineserver runs in NS
#   wineenv.sh stop PREFIX         end PREFIX's wineserver
#
# Callers export WINEPREFIX=PREFIX, WINEARCH=ARCH, LC_ALL=ja_JP.UTF-8 (ANSI
# code page 932 as on a Japanese Windows), WINEDEBUG=-all, and run programs
# with `wine` (win32) or /usr/lib/wine/wine64 (win64).
#
# Some hosts (sandboxed kernels among them) cannot execute 32-bit Linux
# programs, and so not Wine's 32-bit loader: there the suites run 64-bit
# builds of the same sources in a 64-bit prefix.
set -euo pipefail

die() { echo "wineenv: $*" >&2; exit 1; }

export WINEDEBUG=-all LC_ALL=ja_JP.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# PIDs of the wineservers serving PREFIX.
server_pids() {
  local prefix=$1 pid
  for pid in $(pgrep -x wineserver 2>/dev/null; pgrep -x wineserver32 2>/dev/null; pgrep -x wineserver64 2>/dev/null); do
    if { tr "\0" "\n" < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
      echo "$pid"
    fi
  done
}

check() {
  local ns=$1 prefix=$2 pids pid
  pids=$(server_pids "$prefix")
  [ -n "$pids" ] || die "no wineserver runs for $prefix"
  for pid in $pids; do
    [ "$(ip netns identify "$pid")" = "$ns" ] || die "wineserver $pid of $prefix runs outside $ns"
  done
}

# Wine's server and helper processes outlive the call: they must not hold the
# caller's output open.
in_ns() { local ns=$1; shift; ip netns exec "$ns" env WINEPREFIX="$PREFIX" "$@" </dev/null >/dev/null 2>&1; }

host_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo win32; else echo win64; fi
}

prepare() {
  local ns=$1 wine
  PREFIX=$2
  export WINEARCH=$3
  case "$WINEARCH" in
    win32) wine=wine ;;
    win64) wine=/usr/lib/wine/wine64 ;;
    *) die "arch $WINEARCH: win32 or win64" ;;
  esac
  [ -n "$(server_pids "$PREFIX")" ] && die "a wineserver already serves $PREFIX"
  mkdir -p "$PREFIX"
  # The server first, inside the namespace: every later Wine process of this
  # prefix then talks to it.
  in_ns "$ns" wineserver -p
  check "$ns" "$PREFIX"
  in_ns "$ns" env -u DISPLAY "$wine" wineboot -i
  # Japanese UI font, and a virtual desktop so windows get frames at once.
  in_ns "$ns" "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d 'IPAPGothic' /f
  in_ns "$ns" "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f
  in_ns "$ns" "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f
  cp /usr/share/wine/fonts/marlett.ttf "$PREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  # Restart the server so that the desktop settings hold from the first window on.
  in_ns "$ns" wineserver -k || true
  in_ns "$ns" wineserver -w || true
  in_ns "$ns" wineserver -p
  check "$ns" "$PREFIX"
  # With the run's display, so that the desktop process Wine keeps can draw windows.
  in_ns "$ns" "$wine" wineboot
  check "$ns" "$PREFIX"
}

stop() {
  PREFIX=$1
  [ -n "$(server_pids "$PREFIX")" ] || return 0
  WINEPREFIX="$PREFIX" wineserver -k 2>/dev/null || true
  local i
  for i in $(seq 50); do
    [ -z "$(server_pids "$PREFIX")" ] && return 0
    sleep 0.1
  done
  server_pids "$PREFIX" | xargs -r kill -9 2>/dev/null || true
}

cmd=${1:-}; shift || true
case "$cmd" in
  arch)    host_arch ;;
  prepare) [ $# -eq 3 ] || die "prepare NS PREFIX ARCH"; prepare "$1" "$(readlink -m "$2")" "$3" ;;
  check)   [ $# -eq 2 ] || die "check NS PREFIX"; check "$1" "$(readlink -m "$2")" ;;
  stop)    [ $# -eq 1 ] || die "stop PREFIX"; stop "$(readlink -m "$1")" ;;
  *) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
