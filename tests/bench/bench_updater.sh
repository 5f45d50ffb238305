#!/usr/bin/env bash
# Benchmark: the Updater downloading an installer from the simulated site,
# against curl fetching the same file from the same server over the same link
# in the same round. Links: the unshaped LAN, and the site's link shaped to
# 2 Mbit/s and 20 Mbit/s (tc tbf, both ways); 20mbit-chunked is the 20 Mbit/s
# link with every body chunked, as proxies pass files on (only the signed
# Updaters take such a body). Each Updater runs as built by
# default (no key, plain version file) and built with the test key (signed
# version file, the installer hashed while it is read), natively and under
# Wine. Every figure is the median of ROUNDS interleaved rounds (each round
# runs curl and every Updater once), so one noisy run moves nothing.
#
#   tools/inlan.sh tests/bench/bench_updater.sh [ROUNDS]      (default 5)
#   SL_BENCH_LINKS="lan 2mbit 20mbit 20mbit-chunked"   SL_BENCH_LAN_MIB=256   SL_BENCH_VERBOSE=1
#
# The Updater's download time is its run minus a run that fetches the
# version file and finds nothing to do (start-up, which under Wine is most of
# a second); the ratio is that time over curl's (at most 1.1 on the shaped
# links is the target; on the LAN, native at least 0.9 and Wine at least 0.5
# of curl's speed). Needs the test LAN (SL_NS_SITE); the Wine rows need the
# run's prefix (SL_WINE=1, WINEPREFIX).
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
rounds="${1:-5}"
links=(${SL_BENCH_LINKS:-lan 2mbit 20mbit 20mbit-chunked})
lan_mib="${SL_BENCH_LAN_MIB:-256}"
site_bin="${SL_TOOLS_DIR:-$root/build/linux/bin}/update_site"
native_bin="$root/dist/linux/Updater"
native_signed="$root/build/linux/bin/signed/Updater"
windows_bin="${SL_WINDOWS_DIST:-$root/dist/windows}/Updater.exe"
windows_signed="${SL_WINDOWS_TOOLS_DIR:-$root/build/windows/bin}/signed/Updater.exe"

[ -n "${SL_NS_SITE:-}" ] || { echo "bench: run inside the test LAN: tools/inlan.sh $0" >&2; exit 2; }
for f in "$site_bin" "$native_bin" "$native_signed"; do
  [ -x "$f" ] || { echo "bench: missing $f (build the linux preset first)" >&2; exit 1; }
done

variants=("native|$native_bin|env" "native signed|$native_signed|env")
if [ "${SL_WINE:-}" = "1" ] && [ -n "${WINEPREFIX:-}" ] && [ -f "$windows_bin" ]; then
  variants+=("wine|$windows_bin|${SL_WINE_CMD:-wine}")
  [ -f "$windows_signed" ] && variants+=("wine signed|$windows_signed|${SL_WINE_CMD:-wine}")
else
  echo "wine: skipped (needs the run's Wine prefix inside the test LAN)"
fi

addr="${SL_SITE_ADDR:?}"
url="http://$addr/installer/slwintool_set_up.exe"
work="$(mktemp -d /tmp/slbench.XXXXXX)"
site_pid=""
stop_site() {
  if [ -n "$site_pid" ]; then kill "$site_pid" 2>/dev/null || true; wait "$site_pid" 2>/dev/null || true; fi
  site_pid=""
}
cleanup() {
  stop_site
  SL_RUN="$SL_RUN" bash "$SL_TESTLAN" condition site clear >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.2f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The version file the site reads at each request.
unsigned_version() { printf 'LatestVersion=9.0.0.0\nURL=%s\n' "$url" >"$work/version.ini"; }
signed_version() {  # key
  printf 'LatestVersion=9.0.0.0\nURL=%s\nSHA256=%s\n' "$url" "$sha" >"$work/signed.ini"
  openssl dgst -sha256 -sign "$1" -out "$work/signed.sig" "$work/signed.ini"
  { cat "$work/signed.ini"; printf 'Signature=%s\n' "$(openssl base64 -A -in "$work/signed.sig")"; } \
    >"$work/version.ini"
}

# One run of an Updater in a fresh folder; prints its seconds. downloaded:
# the DownloadedVersion it starts with (9.0.0.0: nothing to do).
one_run() {  # downloaded program runner
  local dir="$work/run"
  rm -rf "$dir" && mkdir -p "$dir" && cp "$2" "$dir/"
  printf '[Update]\r\nUpdateSiteURL=http://%s/installer/solberio/search/latestversion.ini\r\nCurrentVersion=1.0.0.0\r\nPassedVersion=0.0.0.0\r\nDownloadedVersion=%s\r\n' \
    "$addr" "$1" >"$dir/profile.ini"
  local start end
  start=$(now)
  (cd "$dir" && $3 "$dir/$(basename "$2")") >/dev/null 2>&1 || true
  end=$(now)
  if [ "$1" != 9.0.0.0 ] && [ "$(stat -c %s "$dir/slwintool_set_up.exe" 2>/dev/null || echo 0)" != "$size" ]; then
    echo "bench: $2 did not download the installer" >&2
  fi
  elapsed "$start" "$end"
}

printf '%-8s %-14s %9s %9s %9s %7s\n' link program "median s" "curl s" "MiB/s" "x curl"
for link in "${links[@]}"; do
  framing=()
  case "$link" in
    lan) size=$((lan_mib * 1024 * 1024)); shape="" ;;
    2mbit) size=$((1024 * 1024)); shape=2mbit ;;
    20mbit) size=$((8 * 1024 * 1024)); shape=20mbit ;;
    20mbit-chunked) size=$((8 * 1024 * 1024)); shape=20mbit; framing=(--chunked) ;;
    *) echo "bench: link $link: lan, 2mbit, 20mbit or 20mbit-chunked" >&2; exit 2 ;;
  esac
  stop_site
  SL_RUN="$SL_RUN" bash "$SL_TESTLAN" condition site clear >/dev/null 2>&1 || true
  [ -z "$shape" ] || SL_RUN="$SL_RUN" bash "$SL_TESTLAN" condition site shape "$shape"
  unsigned_version
  ip netns exec "$SL_NS_SITE" "$site_bin" --listen "$addr:80" --time-limit 3600 \
    --version-file "$work/version.ini" --size "$size" "${framing[@]}" >"$work/site.out" 2>"$work/site.err" &
  site_pid=$!
  for _ in $(seq 100); do grep -q listening "$work/site.out" 2>/dev/null && break; sleep 0.1; done
  grep -q listening "$work/site.out" || { echo "bench: site did not start"; cat "$work/site.err"; exit 1; }
  sha=$(curl -s "$url" | sha256sum | cut -c1-64)

  curl_times=()
  declare -A times=()
  for round in $(seq "$rounds"); do
    start=$(now)
    curl -s -o "$work/curl.bin" "$url"
    curl_times+=("$(elapsed "$start" "$(now)")")
    [ -z "${SL_BENCH_VERBOSE:-}" ] || echo "  $link curl: ${curl_times[-1]} s" >&2
    for v in "${variants[@]}"; do
      IFS='|' read -r label program runner <<<"$v"
      [ ${#framing[@]} -eq 0 ] || [[ "$label" == *signed ]] || continue
      if [[ "$label" == *signed ]]; then signed_version "$(dirname "$program")/update_key.pem"; else unsigned_version; fi
      fixed=$(one_run 9.0.0.0 "$program" "$runner")
      whole=$(one_run 0.0.0.0 "$program" "$runner")
      times[$label]+="$(awk -v a="$whole" -v f="$fixed" 'BEGIN { printf "%.3f", a - f }') "
      [ -z "${SL_BENCH_VERBOSE:-}" ] || echo "  $link $label: whole $whole s, nothing to do $fixed s" >&2
    done
    echo "  $link: round $round of $rounds" >&2
  done
  curl_med=$(median "${curl_times[@]}")
  printf '%-8s %-14s %9s %9s %9s %7s\n' "$link" curl "$curl_med" "$curl_med" \
    "$(awk -v b="$size" -v s="$curl_med" 'BEGIN { printf "%.2f", b / 1048576 / s }')" 1.00
  for v in "${variants[@]}"; do
    IFS='|' read -r label _ _ <<<"$v"
    [ -n "${times[$label]:-}" ] || continue
    # shellcheck disable=SC2086
    med=$(median ${times[$label]})
    printf '%-8s %-14s %9s %9s %9s %7s\n' "$link" "$label" "$med" "$curl_med" \
      "$(awk -v b="$size" -v s="$med" 'BEGIN { if (s > 0) printf "%.2f", b / 1048576 / s; else print "inf" }')" \
      "$(awk -v c="$curl_med" -v s="$med" 'BEGIN { if (c > 0) printf "%.2f", s / c; else print "inf" }')"
  done
  unset times
done
