#!/usr/bin/env bash
# The whole test run: installs what is missing, builds every target, brings
# up the test LAN and a Wine prefix inside it, runs every suite inside the
# LAN's pc namespace, and takes everything down again.
#
#   sudo tools/test.sh            everything
#   SL_SKIP_SETUP=1 tools/test.sh skip the package check
#   SL_KEEP_LAN=1 tools/test.sh   leave the LAN up for a look (prints its name)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

say() { printf '\n== %s\n' "$*"; }
die() { echo "test.sh: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "run as root: the test LAN needs ip netns"

start=$(date +%s)
phase_times=()
mark() { phase_times+=("$(printf '%-28s %4ds' "$1" $(( $(date +%s) - $2 )))"); }

if [ -z "${SL_SKIP_SETUP:-}" ]; then
  t=$(date +%s); say "setup"; bash tools/setup.sh || die "setup failed"; mark setup "$t"
fi

jobs=$(nproc)
build() {
  local preset=$1
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" -j "$jobs" || return 1
}

arch=$(tools/wineenv.sh arch)
if [ "$arch" = win32 ]; then
  win_build=build/windows win_dist=dist/windows wine_cmd=wine
else
  win_build=build/windows-x64 win_dist=build/windows-x64/dist wine_cmd=/usr/lib/wine/wine64
fi

t=$(date +%s); say "build"
for preset in linux linux-asan linux-tsan windows; do
  echo "-- $preset"; build "$preset" || die "build $preset failed"
done
if [ "$arch" = win64 ]; then
  echo "-- windows-x64 (this host's Wine runs 64-bit programs only)"
  build windows-x64 || die "build windows-x64 failed"
fi
mark build "$t"

run="sl$(tr -dc 'a-z0-9' </dev/urandom | head -c 6)"
run_dir=$(mktemp -d "/tmp/$run.XXXX")
xvfb_pid=""
cleanup() {
  [ -n "${SL_KEEP_LAN:-}" ] && { echo "test LAN $run left up (tools/testlan.sh down $run)"; return; }
  tools/wineenv.sh stop "$run_dir/wine" >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  tools/testlan.sh down "$run" >/dev/null 2>&1 || true
  rm -rf "$run_dir"
}
trap cleanup EXIT

mcast_count() { awk '/^IpExt:/{if(!h){for(i=1;i<=NF;i++)if($i=="OutMcastPkts")c=i;h=1}else print $c}' /proc/net/netstat; }
mcast_before=$(mcast_count)

t=$(date +%s); say "test LAN $run"
tools/testlan.sh up "$run" > "$run_dir/lan.env" || die "test LAN failed"
# shellcheck disable=SC1091
source "$run_dir/lan.env"
in_pc() { ip netns exec "$SL_NS_PC" "$@"; }

# A display of the run's own, inside the pc namespace with everything else.
in_pc Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$run_dir/display" \
  >"$run_dir/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$run_dir/display" ] && break; sleep 0.1; done
[ -s "$run_dir/display" ] || die "Xvfb did not start"
export DISPLAY=":$(cat "$run_dir/display")"

tools/wineenv.sh prepare "$SL_NS_PC" "$run_dir/wine" "$arch" || die "Wine prefix failed"
tools/wineenv.sh check "$SL_NS_PC" "$run_dir/wine" || die "Wine prefix outside the LAN"
mark "LAN, display, Wine ($arch)" "$t"

export WINEPREFIX="$run_dir/wine" WINEARCH="$arch" WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export SL_WINE=1 SL_WINE_CMD="$wine_cmd" SL_REQUIRE_LAN=1
export SL_WINDOWS_DIST="$root/$win_dist" SL_WINDOWS_TOOLS_DIR="$root/$win_build/bin"
export SL_SOURCE_DIR="$root" SL_SCREENSHOT_DIR="$root/out/screenshots"
mkdir -p "$SL_SCREENSHOT_DIR"

failed=()
suite() {
  local name=$1; shift
  local t; t=$(date +%s)
  say "$name"
  # The wineserver must still live in the LAN before anything runs under Wine.
  tools/wineenv.sh check "$SL_NS_PC" "$WINEPREFIX" || die "Wine prefix left the LAN"
  in_pc "$@" || failed+=("$name")
  mark "$name" "$t"
}

suite "native suites"        ctest --test-dir build/linux --output-on-failure
suite "native ASan+UBSan"    ctest --test-dir build/linux-asan --output-on-failure -LE 'wine'
suite "native TSan"          ctest --test-dir build/linux-tsan --output-on-failure -L tsan
suite "Windows suites ($arch)" ctest --test-dir "$win_build" --output-on-failure

if [ -x tools/fuzz.sh ]; then
  suite "fuzzers (bounded)" tools/fuzz.sh all 20
fi

mcast_after=$(mcast_count)
if [ -n "$mcast_before" ] && [ "$mcast_after" -gt "$mcast_before" ]; then
  echo "test.sh: the machine's own namespace sent $((mcast_after - mcast_before)) IPv4 multicast packet(s) during the run"
  failed+=("network safety")
fi

say "times"
printf '  %s\n' "${phase_times[@]}"
printf '  %-28s %4ds\n' total $(( $(date +%s) - start ))
if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all suites passed"
