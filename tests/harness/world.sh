# The test world for one run, sourced by the test, run and benchmark
# commands: the test LAN, an X display and a Wine prefix inside its pc
# namespace, and the variables the suites and tools read.
#
#   source tests/harness/world.sh
#   world_up           bring everything up (sets SL_RUN, DISPLAY, WINEPREFIX, ...)
#   in_pc CMD...       run CMD inside the pc namespace
#   world_down         take everything down (also on exit)

world_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

world_die() { echo "world: $*" >&2; exit 1; }

# Which Windows build this host's Wine runs: the shipped 32-bit one, or the
# 64-bit build of the same sources where 32-bit programs cannot start.
# SL_WINE_ARCH=win64 takes the 64-bit path on a host that runs both, so that
# either path can be run anywhere.
world_windows_build() {
  local host_arch
  host_arch=$("$world_root/tests/harness/wineenv.sh" arch)
  case "${SL_WINE_ARCH:-}" in
    "") SL_WINE_ARCH=$host_arch ;;
    win64) ;;
    win32) [ "$host_arch" = win32 ] || world_die "SL_WINE_ARCH=win32, but this host's Wine starts no 32-bit programs" ;;
    *) world_die "SL_WINE_ARCH=$SL_WINE_ARCH: win32 or win64" ;;
  esac
  if [ "$SL_WINE_ARCH" = win32 ]; then
    SL_WINDOWS_PRESET=windows SL_WINDOWS_BUILD=build/windows
    SL_WINDOWS_DIST="$world_root/dist/windows" SL_WINE_CMD=wine
  else
    SL_WINDOWS_PRESET=windows-x64 SL_WINDOWS_BUILD=build/windows-x64
    SL_WINDOWS_DIST="$world_root/build/windows-x64/dist" SL_WINE_CMD=/usr/lib/wine/wine64
  fi
  SL_WINDOWS_TOOLS_DIR="$world_root/$SL_WINDOWS_BUILD/bin"
  export SL_WINE_ARCH SL_WINDOWS_PRESET SL_WINDOWS_BUILD SL_WINDOWS_DIST SL_WINE_CMD SL_WINDOWS_TOOLS_DIR
}

in_pc() { ip netns exec "$SL_NS_PC" "$@"; }

world_down() {
  [ -n "${world_dir:-}" ] || return 0
  if [ -n "${SL_KEEP_LAN:-}" ]; then
    echo "test LAN $SL_RUN left up (tests/harness/testlan.sh down $SL_RUN; WINEPREFIX=$WINEPREFIX)"
    return 0
  fi
  "$world_root/tests/harness/wineenv.sh" stop "$world_dir/wine" >/dev/null 2>&1 || true
  [ -n "${world_xvfb:-}" ] && kill "$world_xvfb" 2>/dev/null
  "$world_root/tests/harness/testlan.sh" down "$SL_RUN" >/dev/null 2>&1 || true
  rm -rf "$world_dir"
  world_dir=""
}

world_up() {
  [ "$(id -u)" -eq 0 ] || world_die "needs root: the test LAN uses ip netns"
  world_windows_build
  local run
  run="sl$(tr -dc 'a-z0-9' </dev/urandom | head -c 6)"
  world_dir=$(mktemp -d "/tmp/$run.XXXX")
  trap world_down EXIT
  "$world_root/tests/harness/testlan.sh" up "$run" > "$world_dir/lan.env" || world_die "test LAN failed"
  # shellcheck disable=SC1091
  source "$world_dir/lan.env"

  # A display of the run's own, inside the pc namespace with everything else.
  in_pc Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$world_dir/display" \
    >"$world_dir/xvfb.log" 2>&1 &
  world_xvfb=$!
  local i
  for i in $(seq 100); do [ -s "$world_dir/display" ] && break; sleep 0.1; done
  [ -s "$world_dir/display" ] || world_die "Xvfb did not start"
  export DISPLAY=":$(cat "$world_dir/display")"

  # The shell itself would warn about a locale it cannot load: make sure first.
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' ||
    world_die "the ja_JP.UTF-8 locale is missing (run tools/setup.sh)"
  "$world_root/tests/harness/wineenv.sh" prepare "$SL_NS_PC" "$world_dir/wine" "$SL_WINE_ARCH" ||
    world_die "Wine prefix failed"
  world_check_wine
  export WINEPREFIX="$world_dir/wine" WINEARCH="$SL_WINE_ARCH" WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
  # No menu entries or file associations from the run's programs on the host's desktop.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export SL_WINE=1 SL_SOURCE_DIR="$world_root" SL_WORLD_DIR="$world_dir"
  world_hold_desktop
}

# Wine closes the prefix's desktop a second after its last program ends; the
# next program's windows then wait for a new desktop process, which can fail
# on a loaded machine (every window of that program fails, and a suite hangs).
# A hidden window of the harness keeps one desktop for the whole run, started
# here with its output away from any test runner's pipes.
world_hold_desktop() {
  local holder="$SL_WINDOWS_TOOLS_DIR/sl_uictl.exe" i
  if [ ! -f "$holder" ]; then
    echo "world: $holder is not built; Wine's desktop is not held" >&2
    return 0
  fi
  local attempt pid
  for attempt in 1 2 3; do
    in_pc "$SL_WINE_CMD" "$holder" desktop </dev/null >"$world_dir/desktop.out" 2>/dev/null &
    pid=$!
    for i in $(seq 200); do
      grep -q holding "$world_dir/desktop.out" 2>/dev/null && return 0
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null
  done
  world_die "Wine's desktop did not start"
}

# The prefix's wineserver must live in the LAN before anything runs under Wine.
world_check_wine() {
  "$world_root/tests/harness/wineenv.sh" check "$SL_NS_PC" "$world_dir/wine" ||
    world_die "the Wine prefix's server runs outside the test LAN"
}
