#!/usr/bin/env bash
# Download speed over 127.0.0.1: the launcher's Download (with its SHA-256 check) against
# `curl -o FILE URL` followed by `sha256sum FILE`, 1 GiB served by the tests' HTTP server.
# Builds bench/download_bench (Linux) and prints both times and their ratio.
#   scripts/bench-download.sh                       (LAUNCHER_BUILD_DIR as for dev.sh)
#   LAUNCHER_DOWNLOAD_BENCH_ROUNDS=5 scripts/bench-download.sh
# The 1 GiB source file is kept in the temporary folder between runs
# (LAUNCHER_DOWNLOAD_BENCH_FILE names another place); the downloads need 1 GiB more.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

command -v curl >/dev/null || { echo "bench-download: curl is needed" >&2; exit 1; }
command -v sha256sum >/dev/null || { echo "bench-download: sha256sum is needed" >&2; exit 1; }

dir="$LAUNCHER_BUILD_ROOT/linux"
launcher_build_target "$dir" download_bench
"$dir/bench/download_bench" "$@"
