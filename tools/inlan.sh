#!/usr/bin/env bash
# Runs one command inside a fresh test world (LAN, display, Wine prefix) and
# takes the world down afterwards; for benchmarks and looking around.
#
#   tools/inlan.sh tests/bench/bench_discovery.sh
#   tools/inlan.sh bash          (a shell inside the pc namespace)
set -uo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tests/harness/world.sh
source tests/harness/world.sh
[ $# -gt 0 ] || { sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
world_up
in_pc "$@"
