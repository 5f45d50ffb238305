#!/usr/bin/env bash
# Shows the tool set as a user sees it, on a simulated LAN: builds what is
# missing, makes releases 1.0.0.0 and 1.0.0.1 with the release command (signed
# with a throw-away key), brings up the test LAN with a few simulated storage
# devices and the simulated update site serving the 1.0.0.1 site tree,
# installs 1.0.0.0 silently with its setup program, starts the installed
# finder under Wine on a virtual display (with a remembered search target in
# its search.ini naming a device behind the LAN's router, which the multicast
# probe never reaches), prints the devices it lists and the
# update state its Updater leaves, saves a screenshot of its window, puts one
# device to sleep and wakes it with the finder's 機器を起動..., and
# takes everything down again. Nothing is sent on the machine's own network.
#
#   bash tools/run.sh                     (screenshot: out/screenshots/run.png)
#   SL_SKIP_SETUP=1 bash tools/run.sh     skip the package check
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=tests/harness/world.sh
source tests/harness/world.sh

say() { printf '== %s\n' "$*"; }
die() { echo "run.sh: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "run as root: the simulated LAN needs ip netns"

if [ -z "${SL_SKIP_SETUP:-}" ]; then
  say "checking packages"
  bash tools/setup.sh >/dev/null || die "setup failed"
fi

world_windows_build
say "building"
for preset in linux windows $([ "$SL_WINDOWS_PRESET" = windows ] || echo "$SL_WINDOWS_PRESET"); do
  { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)"; } >/dev/null ||
    die "build $preset failed (run: cmake --build --preset $preset)"
done
[ "$SL_WINDOWS_PRESET" = windows ] ||
  echo "   (this host's Wine runs 64-bit programs only: showing the 64-bit build of the same sources)"

say "bringing up the simulated LAN"
world_up
tools_bin="$root/build/linux/bin"
screenshot_dir="$root/out/screenshots"
mkdir -p "$screenshot_dir"

# Releases 1.0.0.0 and 1.0.0.1 of the Windows build this host's Wine runs,
# signed with a key made for this run only; 1.0.0.1 is published on the
# simulated update site.
say "making releases 1.0.0.0 and 1.0.0.1 (tools/release.sh, throw-away signing key)"
releases="$SL_WORLD_DIR/release"
bash tools/release.sh --new-key "$SL_WORLD_DIR/release-key.pem" >/dev/null || die "no signing key"
for version in 1.0.0.0 1.0.0.1; do
  bash tools/release.sh --version "$version" --arch "$SL_WINE_ARCH" --out "$releases" \
    --signing-key "$SL_WORLD_DIR/release-key.pem" --site-url "http://$SL_SITE_ADDR" >/dev/null ||
    die "release $version failed"
done

# Storage devices: one on each segment of the pc, and a third host with two
# devices. Names in Shift_JIS, as the devices of a Japanese product send them.
"$SL_TESTLAN" host shelf 1:198.18.2.1/16 1:198.18.2.2/16 || die "device host failed"
peers=()
stop_peers() {
  [ ${#peers[@]} -gt 0 ] && kill "${peers[@]}" 2>/dev/null
  wait "${peers[@]}" 2>/dev/null
  peers=()
}
trap 'stop_peers; world_down' EXIT
start_device() {
  local ns=$1; shift
  ip netns exec "$ns" "$tools_bin/sl_simdevice" --time-limit 600 --encoding sjis "$@" \
    >>"$SL_WORLD_DIR/devices.log" 2>&1 &
  peers+=($!)
}
start_device "$SL_NS_DEV1" --name "ストレージ一号" --max-delay-ms 800 --record "$SL_WORLD_DIR/dev1.jsonl"
sleeper=${peers[-1]}
start_device "$SL_NS_DEV2" --name "経理部NAS" --max-delay-ms 800
start_device "$SL_RUN-shelf" --name "バックアップ{i}" --max-delay-ms 800
# Behind the router: found only through a search target.
start_device "$SL_NS_DEV3" --name "支店NAS" --max-delay-ms 800

site_tree="$releases/1.0.0.1/site"
search_path=installer/solberio/search
# The site sends at 500 KB/s, as a real connection delivers a body: over time.
ip netns exec "$SL_NS_SITE" "$tools_bin/update_site" --listen "$SL_SITE_ADDR:80" --rate 500000 \
  --version-file "$site_tree/$search_path/latestversion.ini" \
  --installer-path "/$search_path/1.0.0.1/slwintool_set_up.exe" \
  --installer-file "$site_tree/$search_path/1.0.0.1/slwintool_set_up.exe" \
  --time-limit 300 --log "$SL_WORLD_DIR/site.log" >"$SL_WORLD_DIR/site.out" 2>&1 &
peers+=($!)

# A silent install of 1.0.0.0 into the default folder, naming the simulated
# update site. Wine makes no desktop menu entries for the shortcut.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
world_check_wine
started=$(date +%s%N)
in_pc "$SL_WINE_CMD" "$releases/1.0.0.0/slwintool_set_up.exe" /S \
  "/UPDATESITE=http://$SL_SITE_ADDR/$search_path/latestversion.ini" >/dev/null 2>&1 ||
  die "the silent install failed"
install="$WINEPREFIX/drive_c/Program Files/ソルベリオ Windows Tool"
[ -f "$install/ソルベリオ Windows Tool.exe" ] || die "nothing installed in $install"
ms=$(( ($(date +%s%N) - started) / 1000000 ))
echo "== installed 1.0.0.0 silently in $((ms / 1000)).$(printf '%03d' $((ms % 1000))) s into C:\\Program Files\\ソルベリオ Windows Tool:"
ls "$install" | sed 's/^/   /'

uictl() { in_pc "$SL_WINE_CMD" "$SL_WINDOWS_TOOLS_DIR/sl_uictl.exe" "$@" 2>/dev/null | tr -d '\r'; }

# A remembered target, as 検索先を指定... keeps it: the branch office's
# device on the routed segment, by its host name.
printf '[Search]\r\nTargets=%s\r\n' "$SL_DEV3_NAME" >"$install/search.ini"
echo "== remembered search target (search.ini): $SL_DEV3_NAME ($SL_DEV3_ADDR, behind the router $SL_RT_ADDR)"

say "starting the installed finder"
(cd "$install" && in_pc "$SL_WINE_CMD" "$install/ソルベリオ Windows Tool.exe" \
  >"$SL_WORLD_DIR/finder.out" 2>&1) &
finder=$!
uictl wait @finder 30000 >/dev/null || die "the finder's window did not open"

# The search ends 3 s after the last answer: wait until 更新 is back.
wait_search_end() {
  local _ state
  for _ in $(seq 60); do
    state=$(uictl button @finder 1001)
    [ "$state" = "$(printf '更新\t1')" ] && return 0
    sleep 0.5
  done
  return 1
}
list_rows() {
  printf '  %-16s %s\n' "IP Address" "Name"
  uictl rows @finder | while IFS=$'\t' read -r name address; do
    printf '  %-16s %s\n' "$address" "$name"
  done
}
wait_search_end

echo
echo "Devices the finder lists:"
list_rows
echo
echo "The same search with slfind --json $SL_DEV3_NAME, natively:"
in_pc "$root/dist/linux/slfind" --json "$SL_DEV3_NAME" | sed 's/^/  /'
echo
echo "Without a target the multicast probe reaches the pc's own segments only:"
in_pc "$root/dist/linux/slfind" | sed 's/^/  /'
echo

shot="$screenshot_dir/run.png"
in_pc import -window root "$shot" 2>/dev/null && echo "Screenshot of the finder: $shot"

# The Updater was started in the background; give it a moment (at most 30 s)
# to fetch.
for _ in $(seq 120); do
  [ -f "$install/slwintool_set_up.exe" ] &&
    grep -q '^DownloadedVersion=1.0.0.1' "$install/profile.ini" 2>/dev/null && break
  sleep 0.25
done
echo
echo "Update state ($install/profile.ini):"
sed 's/\r$//; s/^/  /' "$install/profile.ini" 2>/dev/null
if cmp -s "$install/slwintool_set_up.exe" "$site_tree/$search_path/1.0.0.1/slwintool_set_up.exe"; then
  echo "The Updater downloaded slwintool_set_up.exe ($(stat -c %s "$install/slwintool_set_up.exe") bytes):"
  echo "the setup program of 1.0.0.1, kept after checking the version file's signature"
  echo "and the SHA-256 it signs; the finder offers it at its next start."
fi

# A device goes to sleep: it answers nothing until a magic packet naming its
# hardware address wakes it. The finder remembered it (devices.ini) with the
# MAC its neighbour table had.
echo
say "putting ストレージ一号 ($SL_DEV1_ADDR) to sleep and searching again"
echo "remembered devices ($install/devices.ini):"
sed 's/\r$//' "$install/devices.ini" 2>/dev/null | grep -E '^(Address|Name|MAC)=' | paste - - - |
  sed 's/^/  /'
kill -USR1 "$sleeper"
uictl click @finder 1001 >/dev/null
sleep 1
wait_search_end
list_rows
echo
say "waking it with 機器を起動... (the dialog offers the remembered devices the list does not show)"
uictl command @finder 32775 >/dev/null
if uictl wait 機器の起動 10000 >/dev/null; then
  in_pc import -window root "$screenshot_dir/run_wake.png" 2>/dev/null &&
    echo "Screenshot of the wake dialog: $screenshot_dir/run_wake.png"
  uictl click 機器の起動 1021 >/dev/null
  for _ in $(seq 20); do
    grep -q '"event":"wake","t_ms"' "$SL_WORLD_DIR/dev1.jsonl" 2>/dev/null && break
    sleep 0.25
  done
  sleep 0.5  # the two later rounds, 100 ms apart
  grep '"event":"magic"' "$SL_WORLD_DIR/dev1.jsonl" |
    sed -E 's/.*"src":"([^"]*)","dst":"([^"]*)".*"match":(true|false).*/  magic packet from \1 to \2 (names the device: \3)/'
  uictl click 機器の起動 2 >/dev/null
  echo "the finder searches again by itself 20 s later (a device's network takes about as long):"
  for _ in $(seq 90); do
    uictl rows @finder | grep -q "$SL_DEV1_ADDR" && break
    sleep 0.5
  done
  wait_search_end
  list_rows
else
  echo "run.sh: the wake dialog did not open" >&2
fi

uictl close @finder >/dev/null
wait "$finder" 2>/dev/null
echo
say "done; taking the simulated LAN down"
