#!/usr/bin/env bash
# The music import's speed (Linux, the system's ffmpeg): the first import of 48 songs of 30 s
# beside a shell loop running the same ffprobe and ffmpeg commands one after another (the ratio
# loop / import; converting several songs at once should make it 3 or more on 8 cores), and a
# second import of 500 unchanged songs, which only moves files (it should take under 1 s).
#   scripts/bench-music.sh                       (LAUNCHER_BUILD_DIR as for dev.sh)
# The songs are made once and kept in LAUNCHER_MUSIC_BENCH_CACHE (default: the temporary
# folder's launcher-music-bench), never in the repository.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

command -v ffmpeg >/dev/null || { echo "bench-music: ffmpeg is needed" >&2; exit 1; }
command -v ffprobe >/dev/null || { echo "bench-music: ffprobe is needed" >&2; exit 1; }

dir="$LAUNCHER_BUILD_ROOT/linux"
launcher_build_target "$dir" music_bench
"$dir/bench/music_bench" "$@"
