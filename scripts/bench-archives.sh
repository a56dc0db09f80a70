#!/usr/bin/env bash
# Times ExtractTarXz and ExtractZip on about 600 MB of real files beside GNU tar and unzip on
# the same archives, and prints the ratios (tool time / our time: above 1 means faster).
#   scripts/bench-archives.sh     (LAUNCHER_BENCH_RUNS=3 runs of each, the median is shown)
# The payload and its archives are made once and cached in $LAUNCHER_BENCH_CACHE
# (default /tmp/launcher-bench), never in the repository:
#   one-block.tar.xz   xz -6 on one thread: a single xz block, as plain `xz` writes it
#   many-block.tar.xz  xz -6 -T8: a block per 24 MiB, each with its sizes in its header
#   files.zip          zip -r (deflate)
# The payload is a copy of /usr/lib/llvm-14 (a toolchain, like the Clang archive) and
# /usr/lib/python3* (many small files); its symbolic links are dropped, so that every tool
# writes the same bytes (the unpacker turns links into copies, tar makes links).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

cache=${LAUNCHER_BENCH_CACHE:-/tmp/launcher-bench}
runs=${LAUNCHER_BENCH_RUNS:-3}
build="$LAUNCHER_BUILD_ROOT/linux"
out="$cache/out"
mkdir -p "$cache"

# --- the payload and its archives, made once ---------------------------------------------
if [[ ! -f "$cache/payload.stamp" ]]; then
  launcher_bench_payload "$cache/payload" /usr/lib/llvm-14 /usr/lib/python3.11 /usr/lib/python3
  rm -f "$cache"/one-block.tar.xz "$cache"/many-block.tar.xz "$cache"/files.zip
fi
make_archive() { # name command...
  local name=$1; shift
  if [[ ! -f "$cache/$name" ]]; then
    echo "bench: making $name"
    local start=$EPOCHREALTIME
    "$@" >"$cache/$name.tmp"
    mv "$cache/$name.tmp" "$cache/$name"
    echo "bench: $name made in $(bc <<<"$EPOCHREALTIME - $start") s"
  fi
}
make_archive one-block.tar.xz bash -c "tar -cf - -C '$cache' payload | xz -6 -T1"
make_archive many-block.tar.xz bash -c "tar -cf - -C '$cache' payload | xz -6 -T8"
if [[ ! -f "$cache/files.zip" ]]; then
  echo "bench: making files.zip"
  (cd "$cache" && rm -f files.zip.tmp && zip -qr files.zip.tmp payload && mv files.zip.tmp files.zip)
fi

# --- the benchmark program ------------------------------------------------------------------
launcher_build_target "$build" archive_bench >"$cache/build.log" 2>&1 ||
  { cat "$cache/build.log"; exit 1; }
bench="$build/bench/archive_bench"

# --- timing ----------------------------------------------------------------------------------
# Each run times the tool, then the unpacker, on the same archive, so that a change in the
# machine's load falls on both alike; the median of the runs is taken.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

time_tool() { # command... (run in an emptied $out) -> seconds
  rm -rf "$out"; mkdir -p "$out"; sync
  local start=$EPOCHREALTIME
  (cd "$out" && "$@")
  bc <<<"$EPOCHREALTIME - $start"
}

keep=$(cd "$cache/payload" && ls -1 | paste -sd,)
time_ours() { # archive -> "seconds peak-MiB"
  local json="$cache/bench.json"
  LAUNCHER_BENCH_OUT="$out" LAUNCHER_BENCH_KEEP="$keep" "$bench" \
    --benchmark_out="$json" --benchmark_out_format=json "$1" >/dev/null 2>"$cache/bench.log" ||
    { cat "$cache/bench.log" >&2; return 1; }
  python3 - "$json" <<'PY'
import json, sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if "error_message" in b:
        sys.exit("archive_bench: " + b["error_message"])
    print(b["real_time"] / 1000.0, round(b.get("peak_rss_MiB", 0)))
PY
}

row() { # archive tool-name tool-command...
  local archive=$1 name=$2; shift 2
  local i tool_times=() our_times=() peak=0 seconds mib
  for ((i = 0; i < runs; i++)); do
    tool_times+=("$(time_tool "$@" "$cache/$archive")")
    read -r seconds mib < <(time_ours "$cache/$archive")
    our_times+=("$seconds")
    ((mib > peak)) && peak=$mib
  done
  rm -rf "$out"
  local tool_s ours_s
  tool_s=$(printf '%s\n' "${tool_times[@]}" | median)
  ours_s=$(printf '%s\n' "${our_times[@]}" | median)
  printf '%-18s %7s  %-9s %7.2f  %7.2f  %5.2fx  %5s\n' "$archive" \
    "$(( $(stat -c %s "$cache/$archive") / 1000000 ))" "$name" "$tool_s" "$ours_s" \
    "$(bc -l <<<"$tool_s / $ours_s")" "$peak"
}

printf '\npayload: %s MB in %s files; %s cores, load average %s; median of %s runs\n' \
  "$(du -sm "$cache/payload" | cut -f1)" "$(find "$cache/payload" -type f | wc -l)" "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)" "$runs"
printf '%-18s %7s  %-9s %7s  %7s  %6s  %s\n' archive "size MB" tool "tool s" "ours s" ratio \
  "our peak memory MiB"
row one-block.tar.xz "tar -xJf" tar -xJf
row many-block.tar.xz "tar -xJf" tar -xJf
row files.zip "unzip -q" unzip -q
