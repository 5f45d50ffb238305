#!/usr/bin/env bash
# Builds and runs one libFuzzer target for a bounded time.
#   tools/fuzz.sh TARGET [SECONDS]     TARGET: updater
# Each target has its own block below; the build goes to build/fuzz/.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:-}"
seconds="${2:-20}"
out="$root/build/fuzz"
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -I "$root" -I "$out")

case "$target" in
  updater)
    sources=("$root/tests/fuzz/version_file_fuzz.cpp" "$root/updater/version_file.cpp"
             "$root/common/version.cpp" "$root/platform/text.cpp" "$root/platform/text_posix.cpp")
    corpus_seed="$root/tests/fuzz/corpus/version_file"
    ;;
  *)
    echo "usage: tools/fuzz.sh updater [SECONDS]" >&2
    exit 2
    ;;
esac

binary="$out/fuzz_$target"
clang++ "${flags[@]}" "${sources[@]}" -o "$binary"
corpus="$out/corpus_$target"
mkdir -p "$corpus"
cp -n "$corpus_seed"/* "$corpus"/ 2>/dev/null || true
"$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -print_final_stats=1 \
  "$corpus" 2>&1 | tail -n 15
