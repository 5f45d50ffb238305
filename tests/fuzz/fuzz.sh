#!/usr/bin/env bash
# Builds and runs libFuzzer targets, each for a bounded time.
#   tests/fuzz/fuzz.sh TARGET|all [SECONDS]     TARGET: updater, discovery, targets, ini
# Each target is one block in sources_of; builds go to build/fuzz/.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
out="$root/build/fuzz"
all_targets=(updater discovery targets ini)

# sources_of TARGET: sets sources, libs and seeds for TARGET.
sources_of() {
  libs=()
  case "$1" in
    updater)
      sources=("$root/tests/fuzz/version_file_fuzz.cpp" "$root/updater/version_file.cpp"
               "$root/common/version.cpp" "$root/platform/text.cpp" "$root/platform/text_posix.cpp"
               "$root/platform/crypto.cpp" "$root/platform/crypto_posix.cpp")
      libs=(-lcrypto)
      seeds="$root/tests/fuzz/corpus/version_file"
      ;;
    ini)
      sources=("$root/tests/fuzz/ini_text_fuzz.cpp" "$root/platform/ini_text.cpp")
      seeds="$root/tests/fuzz/corpus/ini_text"
      ;;
    discovery)
      sources=("$root/tests/fuzz/parse_server_header_fuzz.cpp" "$root/finder/discovery/discovery.cpp"
               "$root/platform/text.cpp" "$root/platform/text_posix.cpp")
      seeds="$root/tests/fuzz/corpus/server_header"
      ;;
    targets)
      sources=("$root/tests/fuzz/search_targets_fuzz.cpp" "$root/finder/discovery/search_targets.cpp"
               "$root/finder/discovery/discovery.cpp" "$root/platform/text.cpp"
               "$root/platform/text_posix.cpp")
      seeds="$root/tests/fuzz/corpus/search_targets"
      ;;
    *) return 1 ;;
  esac
}

run_target() {
  local target=$1 seconds=$2
  sources_of "$target" || { echo "fuzz: unknown target $target" >&2; return 2; }
  mkdir -p "$out"
  local binary="$out/fuzz_$target" corpus="$out/corpus_$target"
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I "$root" -I "$out" "${sources[@]}" "${libs[@]}" -o "$binary"
  mkdir -p "$corpus"
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "-- fuzz $target (${seconds}s)"
  "$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -print_final_stats=1 \
    "$corpus" >"$out/fuzz_$target.log" 2>&1 || { tail -n 40 "$out/fuzz_$target.log"; return 1; }
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$out/fuzz_$target.log" || true
}

target="${1:-}"
seconds="${2:-20}"
if [ -z "$target" ]; then
  echo "usage: tests/fuzz/fuzz.sh TARGET|all [SECONDS]   targets: ${all_targets[*]}" >&2
  exit 2
fi
if [ "$target" = all ]; then
  # One target per core at a time (each fuzzer runs on one thread); the
  # reports follow in the targets' order.
  jobs=$(nproc)
  mkdir -p "$out"
  status=0 pids=() names=()
  for t in "${all_targets[@]}"; do
    run_target "$t" "$seconds" >"$out/report_$t.txt" 2>&1 &
    pids+=($!) names+=("$t")
    if [ ${#pids[@]} -ge "$jobs" ]; then
      wait "${pids[0]}" || status=1
      cat "$out/report_${names[0]}.txt"
      pids=("${pids[@]:1}") names=("${names[@]:1}")
    fi
  done
  for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || status=1
    cat "$out/report_${names[$i]}.txt"
  done
  exit "$status"
fi
run_target "$target" "$seconds"
