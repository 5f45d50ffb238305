#!/usr/bin/env bash
# Benchmark: the Updater downloading a large installer from the simulated
# site, against curl fetching the same file from the same server in the same
# run; prints throughput, the ratio to curl and the Updater's peak memory.
# Each Updater runs twice: as built by default (no key) and built with the
# test key against a signed version file, so that the installer is hashed
# while it is read, as in a release.
#
#   tools/bench_updater.sh [SIZE_MIB]        (default 256)
#
# Inside the test LAN (SL_NS_SITE set) the site runs in the site namespace;
# otherwise the script re-runs itself in a private network namespace that has
# nothing but loopback, so no traffic can reach a real interface. The Wine
# figures need the run's Wine prefix (SL_WINE=1, WINEPREFIX), i.e. the LAN.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
size_mib="${1:-256}"
size=$((size_mib * 1024 * 1024))
site_bin="${SL_TOOLS_DIR:-$root/build/linux/bin}/update_site"
native_bin="$root/dist/linux/Updater"
native_signed="$root/build/linux/bin/signed/Updater"
windows_bin="${SL_WINDOWS_DIST:-$root/dist/windows}/Updater.exe"
windows_signed="${SL_WINDOWS_TOOLS_DIR:-$root/build/windows/bin}/signed/Updater.exe"

if [ -z "${SL_NS_SITE:-}" ] && [ -z "${SL_BENCH_PRIVATE:-}" ]; then
  exec unshare -n env SL_BENCH_PRIVATE=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

for f in "$site_bin" "$native_bin" "$native_signed"; do
  [ -x "$f" ] || { echo "bench: missing $f (build the linux preset first)" >&2; exit 1; }
done

if [ -n "${SL_NS_SITE:-}" ]; then
  addr="${SL_SITE_ADDR:?}"
  site_cmd=(ip netns exec "$SL_NS_SITE" "$site_bin")
else
  addr=127.0.0.1
  site_cmd=("$site_bin")
fi

work="$(mktemp -d /tmp/slbench.XXXXXX)"
site_pid=""
cleanup() {
  if [ -n "$site_pid" ]; then kill "$site_pid" 2>/dev/null || true; wait "$site_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

url="http://$addr/installer/slwintool_set_up.exe"
# The site reads the version file at each request: unsigned until curl has
# fetched the installer and its hash is known.
printf 'LatestVersion=9.0.0.0\nURL=%s\n' "$url" >"$work/version.ini"
"${site_cmd[@]}" --listen "$addr:80" --time-limit 1800 --version-file "$work/version.ini" \
  --size "$size" >"$work/site.out" 2>"$work/site.err" &
site_pid=$!
for _ in $(seq 100); do grep -q listening "$work/site.out" 2>/dev/null && break; sleep 0.1; done
grep -q listening "$work/site.out" || { echo "bench: site did not start"; cat "$work/site.err"; exit 1; }

mib_per_s() { awk -v b="$size" -v s="$1" 'BEGIN { if (s > 0) printf "%.1f", b / 1048576 / s; else print "inf" }'; }

# curl, the reference, into a file as the Updater writes one.
start=$(date +%s.%N)
curl -s -o "$work/curl.bin" "$url"
end=$(date +%s.%N)
curl_s=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
curl_bytes=$(stat -c %s "$work/curl.bin")
sha=$(sha256sum "$work/curl.bin" | cut -c1-64)
rm -f "$work/curl.bin"
echo "installer: ${size_mib} MiB from $url"
printf '%-22s %s s  %s MiB/s  (%s bytes)\n' "curl:" "$curl_s" "$(mib_per_s "$curl_s")" "$curl_bytes"

# Signs the version file with the key beside a test-key Updater.
sign_for() {
  local key="$1/update_key.pem"
  printf 'LatestVersion=9.0.0.0\nURL=%s\nSHA256=%s\n' "$url" "$sha" >"$work/signed.ini"
  openssl dgst -sha256 -sign "$key" -out "$work/signed.sig" "$work/signed.ini"
  { cat "$work/signed.ini"; printf 'Signature=%s\n' "$(openssl base64 -A -in "$work/signed.sig")"; } \
    >"$work/version.ini"
}
unsigned_version() { printf 'LatestVersion=9.0.0.0\nURL=%s\n' "$url" >"$work/version.ini"; }

# One run in a fresh folder; sets run_secs, run_rss, run_bytes, run_written.
# downloaded: the DownloadedVersion it starts with (9.0.0.0: nothing to do).
one_run() {  # dir, downloaded, program path, runner...
  local dir="$1" downloaded="$2" program="$3"
  shift 3
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$program" "$dir/"
  printf '[Update]\r\nUpdateSiteURL=http://%s/installer/solberio/search/latestversion.ini\r\nCurrentVersion=1.0.0.0\r\nPassedVersion=0.0.0.0\r\nDownloadedVersion=%s\r\n' \
    "$addr" "$downloaded" >"$dir/profile.ini"
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -v -o "$dir/time.txt" "$@" "$dir/$(basename "$program")" || true
  end=$(date +%s.%N)
  run_secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
  run_rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$dir/time.txt")
  run_bytes=$(stat -c %s "$dir/slwintool_set_up.exe" 2>/dev/null || echo 0)
  run_written=$(grep -a 'DownloadedVersion' "$dir/profile.ini" | tr -d '\r')
}

# Prints the whole run, and the download alone: the run minus a run that
# fetches the version file and finds nothing to do (start-up, which under
# Wine is most of a second).
run_updater() {  # label, program path, runner...
  local label="$1"
  shift
  local dir="$work/run"
  one_run "$dir" 9.0.0.0 "$@"
  local fixed="$run_secs"
  one_run "$dir" 0.0.0.0 "$@"
  local net ratio net_ratio
  net=$(awk -v a="$run_secs" -v f="$fixed" 'BEGIN { printf "%.2f", a - f }')
  ratio=$(awk -v c="$curl_s" -v s="$run_secs" 'BEGIN { if (s > 0) printf "%.2f", c / s; else print "inf" }')
  net_ratio=$(awk -v c="$curl_s" -v s="$net" 'BEGIN { if (s > 0) printf "%.2f", c / s; else print "inf" }')
  printf '%-22s %s s  %s MiB/s  %sx curl | download alone %s s  %s MiB/s  %sx curl | peak RSS %s KiB  (%s bytes, %s)\n' \
    "$label:" "$run_secs" "$(mib_per_s "$run_secs")" "$ratio" "$net" "$(mib_per_s "$net")" "$net_ratio" \
    "$run_rss" "$run_bytes" "$run_written"
  rm -rf "$dir"
}

unsigned_version
run_updater "Updater native" "$native_bin" env
sign_for "$(dirname "$native_signed")"
run_updater "Updater native signed" "$native_signed" env
if [ "${SL_WINE:-}" = "1" ] && [ -n "${WINEPREFIX:-}" ] && [ -f "$windows_bin" ]; then
  unsigned_version
  run_updater "Updater wine" "$windows_bin" "${SL_WINE_CMD:-wine}"
  if [ -f "$windows_signed" ]; then
    sign_for "$(dirname "$windows_signed")"
    run_updater "Updater wine signed" "$windows_signed" "${SL_WINE_CMD:-wine}"
  fi
else
  echo "Updater wine:          skipped (needs the run's Wine prefix inside the test LAN)"
fi
