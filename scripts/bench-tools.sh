#!/usr/bin/env bash
# Installing a build tool of about 600 MB (tar.xz of many blocks) served from 127.0.0.1:
# Builder::InstallTool (download with its SHA-256 check, unpack, stamp) beside the shell's
# `curl -o F URL && sha256sum F && tar -xJf F` on the same archive, and the cost of
# InstallTool for a tool that is installed already (its stamp read).
#   scripts/bench-tools.sh                     (LAUNCHER_BENCH_RUNS=3 rounds of each side)
# The payload and its archive are made once and cached in $LAUNCHER_BENCH_CACHE (default
# /tmp/launcher-bench), never in the repository:
#   tool-payload/   copies of installed toolchains (LLVM, GCC, mingw-w64, Wine, a JDK): about
#                   2 GB of programs and libraries, like the Clang tool; symbolic links dropped
#                   so that both sides write the same bytes
#   tool.tar.xz     xz -6 with a block per 16 MiB (as xz -T writes them)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

for program in curl sha256sum tar xz; do
  command -v "$program" >/dev/null || { echo "bench-tools: $program is needed" >&2; exit 1; }
done

cache=${LAUNCHER_BENCH_CACHE:-/tmp/launcher-bench}
build="$LAUNCHER_BUILD_ROOT/linux"
mkdir -p "$cache"

if [[ ! -f "$cache/tool-payload.stamp" ]]; then
  launcher_bench_payload "$cache/tool-payload" /usr/lib/llvm-14 /usr/lib/gcc \
    /usr/x86_64-w64-mingw32 /usr/lib/x86_64-linux-gnu/wine /usr/lib/jvm
  rm -f "$cache/tool.tar.xz"
fi
if [[ ! -f "$cache/tool.tar.xz" ]]; then
  echo "bench-tools: making tool.tar.xz (a few minutes, once)"
  start=$EPOCHREALTIME
  tar -cf - -C "$cache" tool-payload |
    xz -6 -T"$LAUNCHER_JOBS" --block-size=16MiB >"$cache/tool.tar.xz.tmp"
  mv "$cache/tool.tar.xz.tmp" "$cache/tool.tar.xz"
  echo "bench-tools: tool.tar.xz made in $(bc <<<"$EPOCHREALTIME - $start") s"
fi

launcher_build_target "$build" tool_install_bench >"$cache/build.log" 2>&1 ||
  { cat "$cache/build.log"; exit 1; }

printf 'archive: %s MB, payload %s MB in %s files; %s cores, load average %s\n' \
  "$(( $(stat -c %s "$cache/tool.tar.xz") / 1000000 ))" \
  "$(du -sm "$cache/tool-payload" | cut -f1)" "$(find "$cache/tool-payload" -type f | wc -l)" \
  "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
LAUNCHER_BENCH_ARCHIVE="$cache/tool.tar.xz" LAUNCHER_BENCH_OUT="$cache/tool-out" \
  "$build/bench/tool_install_bench" "$@"
rm -rf "$cache/tool-out"
