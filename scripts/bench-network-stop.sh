#!/usr/bin/env bash
# How soon a stop ends a network wait (Http::Get, FetchText, Download against a server on
# 127.0.0.1 that never answers, one that stalls mid-body, and a host name whose lookup never
# ends, where network namespaces can be made, as root): builds bench/network_stop_bench (Linux)
# and prints each case's mean and slowest round; a case whose slowest stop took more than 1 s is
# reported as an error.
#   scripts/bench-network-stop.sh                        (LAUNCHER_BUILD_DIR as for dev.sh)
#   LAUNCHER_NETWORK_STOP_BENCH_ROUNDS=30 scripts/bench-network-stop.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dir="$LAUNCHER_BUILD_ROOT/linux"
launcher_build_target "$dir" network_stop_bench
"$dir/bench/network_stop_bench" "$@"
