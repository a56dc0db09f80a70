#!/usr/bin/env bash
# Large inputs through the launcher's readers, each in a process of its own so that its peak
# memory is its own (Linux, Release): a tar.xz of 100,000 small files and a zip of 70,000
# entries unpacked, a music folder of 10,000 files scanned, a sparse disc image of 7.3 GB
# identified, and 100,000 lines written through the Builder's log. Each line of the report
# gives the wall time and the peak resident memory (peak_MiB), which must stay flat however
# large the input.
#   scripts/bench-large.sh                       (LAUNCHER_BUILD_DIR as for dev.sh)
# The inputs are made once and kept in LAUNCHER_LARGE_INPUTS (default: the temporary folder's
# launcher-large), never in the repository.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

inputs=${LAUNCHER_LARGE_INPUTS:-${TMPDIR:-/tmp}/launcher-large}
export LAUNCHER_LARGE_INPUTS=$inputs
mkdir -p "$inputs"

if [[ ! -f "$inputs/files.tar.xz" ]]; then
  echo "bench-large: making files.tar.xz"
  python3 - "$inputs/tree" <<'PY'
import os, sys
root = sys.argv[1]
for i in range(100000):
    folder = os.path.join(root, "d%03d" % (i // 1000))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.txt" % i), "w") as f:
        f.write("file %d\n" % i * 4)
PY
  tar -cf - -C "$inputs" tree | xz -6 -T0 >"$inputs/files.tar.xz.tmp"
  mv "$inputs/files.tar.xz.tmp" "$inputs/files.tar.xz"
  rm -rf "$inputs/tree"
fi
if [[ ! -f "$inputs/entries.zip" ]]; then
  echo "bench-large: making entries.zip"
  python3 - "$inputs/entries.zip.tmp" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(70000):
        z.writestr("e%02d/entry%05d.txt" % (i // 1000, i), "entry %d\n" % i * 4)
PY
  mv "$inputs/entries.zip.tmp" "$inputs/entries.zip"
fi
if [[ ! -f "$inputs/music.stamp" ]]; then
  echo "bench-large: making music/"
  rm -rf "$inputs/music"
  python3 - "$inputs/music" <<'PY'
import os, sys
root = sys.argv[1]
for i in range(10000):
    folder = os.path.join(root, "Album %03d" % (i // 40))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "%02d song.mp3" % (i % 40)), "wb").close()
PY
  touch "$inputs/music.stamp"
fi

dir="$LAUNCHER_BUILD_ROOT/linux"
if [[ ! -f "$dir/build.ninja" ]]; then
  launcher_configure linux "$dir" >/dev/null
fi
cmake --build "$dir" --target large_inputs_bench -j "$LAUNCHER_JOBS"
for case in TarXz100k Zip70k MusicScan10k DiscImage7GB Log100k; do
  "$dir/bench/large_inputs_bench" --benchmark_filter="^$case/" "$@" | grep -E "^(Benchmark|$case)"
done
rm -f "$inputs/disc.iso"
