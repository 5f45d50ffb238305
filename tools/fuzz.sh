#!/usr/bin/env bash
# Builds and runs the native libFuzzer targets, each for a bounded time.
#
#   tools/fuzz.sh discovery [SECONDS]   SERVER header reading (default 20 s)
#
# Build output goes to build/fuzz/; new inputs found stay in build/fuzz/ too,
# the seed corpus in tools/fuzz/corpus/ is only read.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-}
seconds=${2:-20}
out="$here/build/fuzz"
mkdir -p "$out"

flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -I "$here" -Wall -Wextra)

case "$target" in
  discovery)
    bin="$out/parse_server_header_fuzz"
    clang++ "${flags[@]}" -o "$bin" \
      "$here/tools/fuzz/parse_server_header_fuzz.cpp" \
      "$here/finder/discovery/discovery.cpp" \
      "$here/platform/text.cpp" "$here/platform/text_posix.cpp"
    corpus="$out/corpus_parse_server_header"
    mkdir -p "$corpus"
    "$bin" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=1024 \
      -print_final_stats=1 "$corpus" "$here/tools/fuzz/corpus/parse_server_header"
    ;;
  *)
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
