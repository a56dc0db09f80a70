#!/usr/bin/env bash
# SHA-256 and SHA-1 throughput: builds bench/sha_bench.cpp (Release) and runs it beside
# sha256sum and sha1sum on the same 512 MiB file, then prints MB/s (1 MB = 10^6 bytes) for
# each, one line each. Every figure is the best of three runs with the file in the page cache
# (the best, because other work on the machine only ever slows a run down).
#   scripts/bench-sha.sh
# Builds in $LAUNCHER_BUILD_DIR/bench-release (default build/bench-release); the benchmark
# file is written there once (override with LAUNCHER_SHA_BENCH_FILE).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dir="$LAUNCHER_BUILD_ROOT/bench-release"
file=${LAUNCHER_SHA_BENCH_FILE:-$dir/sha-bench-512MiB.bin}
export LAUNCHER_SHA_BENCH_FILE="$file"
runs=3

if [[ ! -f "$dir/build.ninja" ]]; then
  # -O2 as in the other builds (GCC 12's -O3 gives false warnings); no tests, no program.
  launcher_configure linux "$dir" -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_WERROR=OFF \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DLAUNCHER_BUILD_TESTS=OFF -DLAUNCHER_BUILD_APP=OFF -DLAUNCHER_BUILD_BENCHMARKS=ON >/dev/null
fi
if ! launcher_build "$dir" sha_bench >"$dir/sha_bench_build.log" 2>&1; then
  cat "$dir/sha_bench_build.log" >&2
  exit 1
fi

csv="$dir/sha_bench.csv"
log="$dir/sha_bench.log"
# The benchmark writes the file first when it is missing; the page cache then holds it.
if ! "$dir/bench/sha_bench" --benchmark_repetitions=$runs --benchmark_out="$csv" \
    --benchmark_out_format=csv >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
size=$(stat -c %s "$file")
cat "$file" >/dev/null

# Seconds of wall time for one run of a command on the file.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" "$file" >/dev/null
  end=$(date +%s.%N)
  echo "$start $end" | awk '{ printf "%.6f\n", $2 - $1 }'
}

# MB/s of the fastest of $runs runs of a command.
tool_rate() {
  local i
  for ((i = 0; i < runs; i++)); do seconds "$@"; done | sort -g |
    awk -v size="$size" 'NR == 1 { printf "%.0f\n", size / $1 / 1e6 }'
}

sha256sum_rate=$(tool_rate sha256sum)
sha1sum_rate=$(tool_rate sha1sum)

# The benchmark's CSV: name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...,
# error_occurred,error_message; one row per repetition.
awk -F, '
  BEGIN {
    order[1] = "BM_Sha256File/accelerated"; label[order[1]] = "Sha256File, SHA instructions"
    order[2] = "BM_Sha1File/accelerated";   label[order[2]] = "SHA-1 file, SHA instructions"
    order[3] = "BM_Sha256File/portable";    label[order[3]] = "Sha256File, portable code"
    order[4] = "BM_Sha1File/portable";      label[order[4]] = "SHA-1 file, portable code"
  }
  {
    name = $1; gsub(/"/, "", name); sub(/\/real_time$/, "", name)
    if (!(name in label)) next
    if ($9 == "true") { error[name] = $10; gsub(/"/, "", error[name]); next }
    if ($6 + 0 > best[name]) best[name] = $6 + 0
  }
  END {
    for (i = 1; i <= 4; i++) {
      name = order[i]
      if (name in best) printf "%-32s %8.0f MB/s\n", label[name], best[name] / 1e6
      else printf "%-32s skipped: %s\n", label[name], (name in error) ? error[name] : "no result"
    }
  }' "$csv"
printf '%-32s %8s MB/s\n' "sha256sum" "$sha256sum_rate"
printf '%-32s %8s MB/s\n' "sha1sum" "$sha1sum_rate"
