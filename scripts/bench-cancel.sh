#!/usr/bin/env bash
# How soon a stopped run ends (Linux): builds bench/cancel_bench and the tests' child program,
# then times 20 stopped runs of each case, from the cancel flag to the end of the run, and
# prints the median and the slowest beside the 200 ms a stop should take; then times the end of
# the program's wait for a job that stops (bench/stop_launcher_bench). Run it on a quiet
# machine: under load the figures measure the machine.
#   scripts/bench-cancel.sh [runs]                 (LAUNCHER_BUILD_DIR as for dev.sh)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dir="$LAUNCHER_BUILD_ROOT/linux"
launcher_build_target "$dir" launcher_test_program_child
launcher_build_target "$dir" cancel_bench
launcher_build_target "$dir" stop_launcher_bench
"$dir/bench/cancel_bench" "$dir/tests/bin/child" "$@"
"$dir/bench/stop_launcher_bench"
