#!/usr/bin/env bash
# Desktop finder figures: N simulated devices behind one host (default 250),
# all answering within MX (3 s); the Qt finder runs one search on Qt's
# offscreen platform with its --trace output. Prints the rows found out of the
# devices that answered, the first row's delay after the first answer was
# sent (the devices record whole milliseconds), the end of the search (更新
# back) after the last answer, and the program's peak resident memory.
#
#   tools/inlan.sh tests/bench/bench_qt_finder.sh [COUNT]
#
# Needs a test LAN (SL_RUN, SL_TESTLAN: run it through tools/inlan.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
n=${1:-250}
bin=${SL_TOOLS_DIR:-$here/build/linux/bin}
finder=${SL_QT_FINDER:-$here/dist/linux/solberio-finder}
[ -x "$bin/sl_simdevice" ] && [ -x "$finder" ] || {
  echo "bench: build the linux preset first" >&2; exit 1; }
[ -n "${SL_RUN:-}" ] && [ -n "${SL_TESTLAN:-}" ] || {
  echo "bench: run inside a test LAN (tools/inlan.sh $0)" >&2; exit 1; }
[ "$n" -ge 1 ] && [ "$n" -le 254 ] || { echo "bench: 1 to 254 devices" >&2; exit 1; }

work=$(mktemp -d /tmp/sl_qtbench.XXXXXX)
cleanup() {
  "$SL_TESTLAN" drop qsearch >/dev/null 2>&1 || true
  "$SL_TESTLAN" drop qdev >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$SL_TESTLAN" host qsearch 1:198.18.80.1/16 >/dev/null
"$SL_TESTLAN" host qdev 1:198.18.81.1/16 >/dev/null
for ((i = 2; i <= n; i++)); do echo "addr add 198.18.81.$i/16 dev eth1"; done |
  ip -n "$SL_RUN-qdev" -batch -
addresses=()
for ((i = 1; i <= n; i++)); do addresses+=(--address "198.18.81.$i"); done

record="$work/record.jsonl"
timeout 60 ip netns exec "$SL_RUN-qdev" "$bin/sl_simdevice" "${addresses[@]}" --name "Bench-{i}" \
  --max-delay-ms 3000 --seed "$n" --record "$record" --ready "$work/ready" --time-limit 40 &
sim=$!
for _ in $(seq 100); do [ -f "$work/ready" ] && break; sleep 0.05; done
(cd "$work" && QT_QPA_PLATFORM=offscreen timeout 60 ip netns exec "$SL_RUN-qsearch" \
  "$finder" --trace --quit-after-search) > "$work/trace" 2>"$work/errors" || true
kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true

src=198.18.80.1
answers=$(grep '"event":"answer"' "$record" | grep "\"to\":\"$src\"" | grep '"ok":true' |
          sed -n 's/.*"t_ms":\([0-9]*\).*/\1/p' | sort -n)
answered=$(printf '%s\n' "$answers" | grep -c . || true)
first_answer=$(printf '%s\n' "$answers" | head -1)
last_answer=$(printf '%s\n' "$answers" | tail -1)
awk -F'\t' -v n="$n" -v answered="$answered" -v fa="$first_answer" -v la="$last_answer" '
  $1 == "row" && index($4, "198.18.81.") == 1 { rows++; if (first == "") first = $2 }
  $1 == "end" { end = $2; peak = $4 }
  END {
    printf "qt finder, %d devices    rows %d of %d answering", n, rows, answered
    if (first != "" && fa != "") printf "; first row %.1f ms after the first answer", first - fa
    if (end != "" && la != "") printf "; end %.0f ms after the last answer", end - la
    if (peak != "") printf "; peak memory %.1f MiB", peak / 1024
    printf "\n"
  }' "$work/trace"
