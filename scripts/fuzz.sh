#!/usr/bin/env bash
# Runs the fuzz targets for as long as asked, in the sanitizer build (build/sanitize).
#   scripts/fuzz.sh [-t SECONDS] [-j JOBS] [TARGET...]
#     -t  seconds per target (default 300)
#     -j  targets run at once (default $LAUNCHER_JOBS)
#     TARGET  names such as zip or tar_stream (fuzz/<name>_fuzz.cpp); default every target
# Each target's corpus grows in build/sanitize/fuzz/corpus/<name> from one run to the next and
# starts from the seeds fuzz_seeds writes; an input that crashes, leaks, trips a sanitizer or
# runs over 10 s lands in build/sanitize/fuzz/artifacts/<name>/, the output in logs/<name>.log.
# Exits non-zero when any target found something.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=300
jobs=$LAUNCHER_JOBS
while getopts "t:j:" option; do
  case "$option" in
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) echo "usage: $0 [-t SECONDS] [-j JOBS] [TARGET...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

dir="$LAUNCHER_BUILD_ROOT/sanitize"
if [[ ! -f "$dir/build.ninja" ]]; then
  launcher_configure sanitize "$dir" >/dev/null
fi
launcher_build "$dir"

fuzz_dir="$dir/fuzz"
targets=("$@")
if ((${#targets[@]} == 0)); then
  for program in "$fuzz_dir"/*_fuzz; do
    name=$(basename "$program")
    targets+=("${name%_fuzz}")
  done
fi

"$fuzz_dir/fuzz_seeds" "$fuzz_dir/seeds"
mkdir -p "$fuzz_dir/logs"

run_target() { # name
  local name=$1 program="$fuzz_dir/$1_fuzz"
  local corpus="$fuzz_dir/corpus/$name" artifacts="$fuzz_dir/artifacts/$name/"
  if [[ ! -x "$program" ]]; then
    echo "fuzz: no target $name ($program)" >&2
    return 1
  fi
  mkdir -p "$corpus" "$artifacts"
  local inputs=("$corpus")
  [[ -d "$fuzz_dir/seeds/$name" ]] && inputs+=("$fuzz_dir/seeds/$name")
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$artifacts" "${inputs[@]}" \
       >"$fuzz_dir/logs/$name.log" 2>&1 </dev/null; then
    echo "fuzz: $name ran ${seconds} s: $(grep -o 'cov: [0-9]*' "$fuzz_dir/logs/$name.log" | tail -n1)," \
         "$(ls "$corpus" | wc -l) inputs in its corpus"
  else
    echo "fuzz: $name FOUND A FAULT: see $fuzz_dir/logs/$name.log and $artifacts" >&2
    return 1
  fi
}

failed=0
running=0
for name in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
