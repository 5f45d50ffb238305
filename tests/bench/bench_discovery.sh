#!/usr/bin/env bash
# Discovery figures: 50 and 250 simulated devices behind one host, all
# answering within MX (3 s), one search natively and one under Wine.
# Prints, per run: devices found out of devices that answered, time from the
# probe to the first notice, and the end of the search after the last answer
# (designed: 3 s plus the handling of the last cycle). A "burst" run has
# every device answer at once (natively), so the answers queue on the one
# socket and are read one per receive cycle. A "slfind" run has slfind --json
# list the devices answering over MX and adds: the time from the first
# answer's sending to slfind's first line (stamped as it comes out of the
# pipe), the end of the process after the last answer, and its peak memory
# (/usr/bin/time -v).
#
# A "routed" run puts 250 devices in a /22 behind the LAN's router (one hop
# further, 10.77.3.1), where no multicast reaches, and has slfind and the
# finder's search under Wine probe the range (slfind 10.77.4.0/22): devices
# found, the time from the first to the last probe (1,022 addresses at most
# 1,000 a second; devices sit at the range's first and last addresses, so
# their records show the span), and the end of the search after the last
# answer.
#
#   tests/bench/bench_discovery.sh [COUNTS...]     (default: 50 250)
#   SL_BENCH_TARGETS="native wine burst slfind routed" (default: all five)
#
# Inside a test LAN (SL_RUN and SL_TESTLAN set, as tools/test.sh exports
# them) it adds its own hosts to it; otherwise it brings up a LAN of its own
# with tests/harness/testlan.sh and takes it down at the end. The Wine runs need the
# run's prefix (SL_WINE=1, WINEPREFIX; its wineserver in the pc namespace)
# and are skipped without it.
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(50 250)
bin=${SL_TOOLS_DIR:-$here/build/linux/bin}
winbin=${SL_WINDOWS_TOOLS_DIR:-$here/build/windows/bin}
slfind=${SL_SLFIND:-$here/dist/linux/slfind}
targets=(${SL_BENCH_TARGETS:-native wine burst slfind routed})
[ -x "$bin/sl_search" ] && [ -x "$bin/sl_simdevice" ] && [ -x "$slfind" ] || {
  echo "bench: build the linux preset first" >&2; exit 1; }

own_lan=0
if [ -z "${SL_RUN:-}" ] || [ -z "${SL_TESTLAN:-}" ]; then
  export SL_RUN="bd$$"
  export SL_TESTLAN="$here/tests/harness/testlan.sh"
  eval "$("$SL_TESTLAN" up "$SL_RUN")"
  own_lan=1
fi
work=$(mktemp -d /tmp/sl_bench.XXXXXX)
cleanup() {
  "$SL_TESTLAN" drop bsearch >/dev/null 2>&1 || true
  "$SL_TESTLAN" drop bdev >/dev/null 2>&1 || true
  ip -n "$SL_RUN-rt" route del 10.77.4.0/22 >/dev/null 2>&1 || true
  "$SL_TESTLAN" drop brdev >/dev/null 2>&1 || true
  [ "$own_lan" = 1 ] && "$SL_TESTLAN" down "$SL_RUN" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# json_field FILE EVENT FIELD: the field of every line of that event.
json_field() {
  grep "\"event\":\"$2\"" "$1" | sed -n "s/.*\"$3\":\"\{0,1\}\([^\",}]*\).*/\1/p"
}

# report LABEL SEARCH_OUTPUT RECORD SEARCH_ADDRESS PREFIX
report() {
  local label=$1 out=$2 record=$3 src=$4 prefix=$5
  local start_ms start_wall end_ms found answered probe_t first_ms last_answer
  start_ms=$(awk -F'\t' '$1=="start"{print $2}' "$out")
  start_wall=$(awk -F'\t' '$1=="start"{print $3}' "$out")
  end_ms=$(awk -F'\t' '$1=="end"{print $2}' "$out")
  found=$(awk -F'\t' -v p="$prefix" '$1=="device" && index($4, p)==1' "$out" | wc -l)
  answered=$(grep '"event":"answer"' "$record" | grep "\"to\":\"$src\"" | grep -c '"ok":true' || true)
  probe_t=$(grep '"event":"probe"' "$record" | grep "\"src\":\"$src\"" | head -1 |
            sed -n 's/.*"t_ms":\([0-9]*\).*/\1/p')
  first_ms=$(awk -F'\t' '$1=="device"{print $2; exit}' "$out")
  last_answer=$(grep '"event":"answer"' "$record" | grep "\"to\":\"$src\"" |
                sed -n 's/.*"t_ms":\([0-9]*\).*/\1/p' | sort -n | tail -1)
  awk -v label="$label" -v found="$found" -v answered="$answered" -v sm="$start_ms" \
      -v sw="$start_wall" -v em="$end_ms" -v pt="$probe_t" -v fm="$first_ms" -v la="$last_answer" '
    BEGIN {
      printf "%-24s found %d of %d answering", label, found, answered
      if (fm != "" && pt != "") printf "; probe->first notice %.0f ms", (sw + fm - sm) - pt
      if (la != "") printf "; end after last answer %.0f ms", (sw + em - sm) - la
      printf "; whole search %.0f ms\n", em - sm
    }'
}

# report_slfind LABEL STAMPED_OUTPUT RECORD SEARCH_ADDRESS PREFIX TIME_FILE
report_slfind() {
  local label=$1 out=$2 record=$3 src=$4 prefix=$5 timefile=$6
  local found answered first_answer last_answer first_line end_t peak
  found=$(grep -c "\"address\":\"$prefix" "$out" || true)
  answered=$(grep '"event":"answer"' "$record" | grep "\"to\":\"$src\"" | grep -c '"ok":true' || true)
  first_answer=$(grep '"event":"answer"' "$record" | grep "\"to\":\"$src\"" |
                 sed -n 's/.*"t_ms":\([0-9]*\).*/\1/p' | sort -n | head -1)
  last_answer=$(grep '"event":"answer"' "$record" | grep "\"to\":\"$src\"" |
                sed -n 's/.*"t_ms":\([0-9]*\).*/\1/p' | sort -n | tail -1)
  first_line=$(grep -m1 '"address"' "$out" | cut -f1)
  end_t=$(grep 'END$' "$out" | cut -f1)
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$timefile")
  awk -v label="$label" -v found="$found" -v answered="$answered" -v fa="$first_answer" \
      -v la="$last_answer" -v fl="$first_line" -v et="$end_t" -v peak="$peak" '
    BEGIN {
      printf "%-24s found %d of %d answering", label, found, answered
      if (fa != "" && fl != "") printf "; first answer->first line %.1f ms", fl - fa
      if (la != "" && et != "") printf "; end after last answer %.0f ms", et - la
      if (peak != "") printf "; peak memory %.1f MB", peak / 1024
      printf "\n"
    }'
}

"$SL_TESTLAN" host bsearch 1:198.18.80.1/16 >/dev/null
"$SL_TESTLAN" host bdev 1:198.18.81.1/16 >/dev/null
ns_search="$SL_RUN-bsearch"
ns_dev="$SL_RUN-bdev"
max=0
for n in "${counts[@]}"; do [ "$n" -gt "$max" ] && max=$n; done
[ "$max" -le 254 ] || { echo "bench: at most 254 devices" >&2; exit 1; }
for ((i = 2; i <= max; i++)); do echo "addr add 198.18.81.$i/16 dev eth1"; done |
  ip -n "$ns_dev" -batch -

for n in "${counts[@]}"; do
  addresses=()
  for ((i = 1; i <= n; i++)); do addresses+=(--address "198.18.81.$i"); done

  for target in "${targets[@]}"; do
    [ "$target" = routed ] && continue
    delay=3000
    if [ "$target" = burst ]; then delay=0; fi
    if [ "$target" = wine ]; then
      if [ "${SL_WINE:-}" != 1 ] || [ -z "${WINEPREFIX:-}" ] || [ ! -f "$winbin/sl_search.exe" ]; then
        echo "$(printf '%-24s' "wine, $n devices") skipped: no Wine prefix for this run"
        continue
      fi
    fi
    record="$work/$target-$n.jsonl"
    out="$work/$target-$n.out"
    rm -f "$work/ready"
    timeout 60 ip netns exec "$ns_dev" "$bin/sl_simdevice" "${addresses[@]}" --name "Bench-{i}" \
      --max-delay-ms "$delay" --seed "$n" --record "$record" --ready "$work/ready" --time-limit 40 &
    sim=$!
    for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.05; done
    if [ "$target" = slfind ]; then
      # Each line stamped (wall-clock ms) as it leaves the pipe; END when
      # slfind has closed it by ending.
      (cd "$work" && timeout 60 ip netns exec "$ns_search" /usr/bin/time -v -o "$work/time-$n" \
        "$slfind" --json | perl -MTime::HiRes=time -ne \
        'printf "%.1f\t%s", time() * 1000, $_; END { printf "%.1f\tEND\n", time() * 1000 }') > "$out"
      src=198.18.80.1
    elif [ "$target" != wine ]; then
      (cd "$work" && timeout 60 ip netns exec "$ns_search" "$bin/sl_search" --log "$work/n.log") > "$out"
      src=198.18.80.1
    else
      # Under Wine the sockets live where the prefix's wineserver runs: the pc.
      (cd "$work" && timeout 60 ip netns exec "$SL_RUN-pc" "${SL_WINE_CMD:-wine}" "$winbin/sl_search.exe") > "$out"
      src=198.18.0.1
    fi
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    if [ "$target" = slfind ]; then
      report_slfind "slfind, $n devices" "$out" "$record" "$src" "198.18.81." "$work/time-$n"
    else
      report "$target, $n devices" "$out" "$record" "$src" "198.18.81."
    fi
  done
done

# ---- Routed /22 ----------------------------------------------------------
# report_routed LABEL FOUND RECORD END_MS_AFTER_LAST_ANSWER
report_routed() {
  local label=$1 found=$2 record=$3 end_after=$4 span answered reached
  span=$(grep '"event":"probe"' "$record" | sed -n 's/.*"t_ms":\([0-9]*\).*/\1/p' |
         sort -n | awk 'NR==1{a=$1} {b=$1} END{if (NR) print b-a}')
  answered=$(grep '"event":"answer"' "$record" | grep -c '"ok":true' || true)
  reached=$(grep '"event":"probe"' "$record" | sed -n 's/.*"dst":"\([^"]*\)".*/\1/p' | sort -u | wc -l)
  printf '%-24s found %d of %d answering (probes reached %d); probes first->last %s ms; end after last answer %s ms\n' \
    "$label" "$found" "$answered" "$reached" "${span:-?}" "${end_after:-?}"
  if [ -n "${SL_BENCH_VERBOSE:-}" ]; then
    printf '%s\n' "${raddrs[@]}" |
      grep -vxF -f <(grep '"event":"probe"' "$record" | sed -n 's/.*"dst":"\([^"]*\)".*/\1/p') | head || true
  fi
}

last_answer_ms() {
  grep '"event":"answer"' "$1" | sed -n 's/.*"t_ms":\([0-9]*\).*/\1/p' | sort -n | tail -1
}

if [[ " ${targets[*]} " == *" routed "* ]]; then
  routed=250
  raddrs=()
  for ((i = 0; i < routed; i++)); do
    off=$((1 + (i * 1021 + (routed - 1) / 2) / (routed - 1)))
    raddrs+=("10.77.$((4 + off / 256)).$((off % 256))")
  done
  # The /22 lies behind one more hop (10.77.3.1), as a network behind a
  # second router does, so the LAN's router needs no neighbour entry per
  # probed address (the kernel's table is shared by every namespace).
  "$SL_TESTLAN" host brdev 3:10.77.3.1/16 >/dev/null
  for a in "${raddrs[@]}"; do echo "addr add $a/32 dev eth1"; done | ip -n "$SL_RUN-brdev" -batch -
  ip -n "$SL_RUN-rt" route add 10.77.4.0/22 via 10.77.3.1
  rargs=()
  for a in "${raddrs[@]}"; do rargs+=(--address "$a"); done
  for front in slfind wine; do
    if [ "$front" = wine ] && { [ "${SL_WINE:-}" != 1 ] || [ ! -f "$winbin/sl_search.exe" ]; }; then
      echo "$(printf '%-24s' "routed wine, $routed")" skipped: no Wine prefix for this run
      continue
    fi
    record="$work/routed-$front.jsonl"
    out="$work/routed-$front.out"
    rm -f "$work/ready"
    timeout 60 ip netns exec "$SL_RUN-brdev" "$bin/sl_simdevice" "${rargs[@]}" --name "Far-{i}" \
      --max-delay-ms 3000 --seed 22 --record "$record" --ready "$work/ready" --time-limit 40 &
    sim=$!
    for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.05; done
    if [ "$front" = slfind ]; then
      (cd "$work" && timeout 60 ip netns exec "$SL_RUN-pc" "$slfind" --json 10.77.4.0/22 | perl -MTime::HiRes=time -ne \
        'printf "%.1f\t%s", time() * 1000, $_; END { printf "%.1f\tEND\n", time() * 1000 }') > "$out"
    else
      (cd "$work" && timeout 60 ip netns exec "$SL_RUN-pc" "${SL_WINE_CMD:-wine}" "$winbin/sl_search.exe" \
        --target 10.77.4.0/22) > "$out"
    fi
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    la=$(last_answer_ms "$record")
    if [ "$front" = slfind ]; then
      found=$(grep -c '"address":"10.77.' "$out" || true)
      end_t=$(grep 'END$' "$out" | cut -f1)
      after=$(awk -v e="$end_t" -v l="$la" 'BEGIN { if (e != "" && l != "") printf "%.0f", e - l }')
      report_routed "routed slfind, $routed" "$found" "$record" "$after"
    else
      found=$(awk -F'\t' '$1=="device" && index($4, "10.77.")==1' "$out" | wc -l)
      after=$(awk -F'\t' -v l="$la" '$1=="start"{sm=$2; sw=$3} $1=="end"{em=$2}
        END { if (l != "") printf "%.0f", (sw + em - sm) - l }' "$out")
      report_routed "routed wine, $routed" "$found" "$record" "$after"
    fi
  done
fi
