#!/usr/bin/env bash
# The whole test run: installs what is missing, builds what the suites run, brings
# up the test LAN with a display and a Wine prefix inside it, runs every
# suite inside the LAN's pc namespace, and takes everything down again.
#
#   bash tools/test.sh            everything
#   SL_SKIP_SETUP=1 bash tools/test.sh skip the package check
#   SL_KEEP_LAN=1 bash tools/test.sh   leave the LAN up for a look
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=tests/harness/world.sh
source tests/harness/world.sh

say() { printf '\n== %s\n' "$*"; }
die() { echo "test.sh: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "run as root: the test LAN needs ip netns"

start=$(date +%s)
phase_times=()
mark() { phase_times+=("$(printf '%-28s %4ds' "$1" $(( $(date +%s) - $2 )))"); }

if [ -z "${SL_SKIP_SETUP:-}" ]; then
  t=$(date +%s); say "setup"; bash tools/setup.sh || die "setup failed"; mark setup "$t"
fi

# build PRESET [TARGET...]: everything, or only the targets named.
build() {
  local preset=$1; shift
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}" || return 1
}

failed=()

# Every C++ file as clang-format (the repository's .clang-format) makes it.
t=$(date +%s); say "formatting"
unformatted=$(git ls-files -z '*.cpp' '*.h' | xargs -0 -P "$(nproc)" -I{} \
  sh -c 'clang-format --dry-run -Werror "$1" >/dev/null 2>&1 || echo "$1"' sh {})
if [ -n "$unformatted" ]; then
  printf 'not as clang-format makes it: %s\n' $unformatted
  failed+=("formatting")
fi
mark formatting "$t"

world_windows_build
t=$(date +%s); say "build"
# The sanitizer passes run only some suites (ASan: those not labelled wine;
# TSan: the one labelled tsan), so their builds make only those programs and
# what they depend on. A host whose Wine runs no 32-bit code runs the Windows
# suites from the 64-bit build; the 32-bit one then builds only what ships
# (its images are checked without running them).
asan_suites=(-LE wine) tsan_suites=(-L tsan)
suites_of() { ctest --test-dir "$1" -N "${@:2}" | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' '; }
for preset in linux-asan linux-tsan; do
  cmake --preset "$preset" >/dev/null || die "configure $preset failed"
done
declare -A targets=([linux-asan]="$(suites_of build/linux-asan "${asan_suites[@]}")"
                    [linux-tsan]="$(suites_of build/linux-tsan "${tsan_suites[@]}")")
[ "$SL_WINDOWS_PRESET" = windows ] || targets[windows]="sl_setup slfind"
presets=(linux linux-asan linux-tsan windows)
[ "$SL_WINDOWS_PRESET" = windows ] || presets+=("$SL_WINDOWS_PRESET")
for preset in "${presets[@]}"; do
  # shellcheck disable=SC2086  # a list of target names
  echo "-- $preset"; build "$preset" ${targets[$preset]:-} || die "build $preset failed"
done
mark build "$t"

ipext_count() { awk -v k="$1" '/^IpExt:/{if(!h){for(i=1;i<=NF;i++)if($i==k)c=i;h=1}else print $c}' /proc/net/netstat; }
mcast_count() { ipext_count OutMcastPkts; }
# Wake-on-LAN tests broadcast: those packets must stay in the LAN too.
bcast_count() { ipext_count OutBcastPkts; }
mcast_before=$(mcast_count)
bcast_before=$(bcast_count)

t=$(date +%s); say "test LAN, display, Wine"
world_up
echo "run $SL_RUN, display $DISPLAY, Wine $SL_WINE_ARCH ($SL_WINDOWS_PRESET build)"
mark "LAN, display, Wine ($SL_WINE_ARCH)" "$t"
# The installer suite's releases 1.0.0.0 and 1.0.0.1 of the Windows build,
# signed with throw-away keys: the update key, Authenticode from a test CA,
# and (1.0.0.1) the apt repository's OpenPGP key; outside the repository, as
# the release command wants (one build tree: the second rebuilds little).
t=$(date +%s)
export SL_TEST_PKI="$SL_WORLD_DIR/pki"
bash tests/harness/test_pki.sh "$SL_TEST_PKI" >/dev/null || die "no test PKI"
bash tools/release.sh --new-key "$SL_TEST_PKI/release-key.pem" >/dev/null || die "no test signing key"
for version in 1.0.0.0 1.0.0.1; do
  apt=()
  [ "$version" = 1.0.0.0 ] || apt=(--apt-key "$SL_TEST_PKI/apt.asc")
  bash tools/release.sh --version "$version" --arch "$SL_WINE_ARCH" --signing-key "$SL_TEST_PKI/release-key.pem" \
    --codesign-cert "$SL_TEST_PKI/codesign.pem" --codesign-key "$SL_TEST_PKI/codesign.key" "${apt[@]}" \
    --site-url "http://$SL_SITE_ADDR" --out "$SL_WINDOWS_TOOLS_DIR/release" >/dev/null || die "test release $version failed"
done
mark "test releases" "$t"

export SL_REQUIRE_LAN=1 SL_SCREENSHOT_DIR="$root/out/screenshots"
mkdir -p "$SL_SCREENSHOT_DIR"

suite() {
  local name=$1; shift
  local t; t=$(date +%s)
  say "$name"
  world_check_wine
  in_pc "$@" || failed+=("$name")
  mark "$name" "$t"
}

suite "native suites"        ctest --test-dir build/linux --output-on-failure
suite "native ASan+UBSan"    ctest --test-dir build/linux-asan --output-on-failure "${asan_suites[@]}"
suite "native TSan"          ctest --test-dir build/linux-tsan --output-on-failure "${tsan_suites[@]}"
suite "Windows suites ($SL_WINE_ARCH)" ctest --test-dir "$SL_WINDOWS_BUILD" --output-on-failure
suite "fuzzers (bounded)"    tests/fuzz/fuzz.sh all 20

t=$(date +%s); say "Debian package"
{ (cd build/linux && cpack -G DEB) && lintian --fail-on error dist/linux/solberio-finder_*_amd64.deb; } ||
  failed+=("Debian package")
mark "Debian package" "$t"

mcast_after=$(mcast_count)
if [ -n "$mcast_before" ] && [ "$mcast_after" -gt "$mcast_before" ]; then
  echo "test.sh: the machine's own namespace sent $((mcast_after - mcast_before)) IPv4 multicast packet(s) during the run"
  failed+=("network safety")
fi
bcast_after=$(bcast_count)
if [ -n "$bcast_before" ] && [ "$bcast_after" -gt "$bcast_before" ]; then
  echo "test.sh: the machine's own namespace sent $((bcast_after - bcast_before)) IPv4 broadcast packet(s) during the run"
  failed+=("network safety (broadcast)")
fi

say "times"
printf '  %s\n' "${phase_times[@]}"
printf '  %-28s %4ds\n' total $(( $(date +%s) - start ))
if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all suites passed"
