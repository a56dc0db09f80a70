#!/usr/bin/env bash
# The launcher program's own speed on Linux, under a virtual X server (Release-like build):
#   start-up   exec to the first presented frame, median of 10 starts      (aim: at most 300 ms)
#   job        frames per second while a job runs (the start-up check,    (aim: at most 60)
#              held up by a local proxy that never answers)
#   idle       share of one core over 5 s once the start-up check ended    (aim: at most 3%)
# The program reports its presented frames through LAUNCHER_FRAME_TRACE.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [[ "${1:-}" != --inside ]]; then
  dir="$LAUNCHER_BUILD_ROOT/linux"
  launcher_build_target "$dir" launcher_program >/dev/null
  exec xvfb-run -a -s '-screen 0 1280x800x24' bash "${BASH_SOURCE[0]}" --inside "$dir/HalvornLauncher"
fi

program=$2
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
cp "$program" "$work/"
launcher="$work/$(basename "$program")"
log="$work/Halvorn/launcher.log"
trace="$work/frames.txt"
lines() { [[ -f "$1" ]] && wc -l <"$1" || echo 0; }

# --- start-up: the proxy's closed port makes the check end at once ----------------------------
times=()
for _ in $(seq 1 10); do
  rm -rf "$work/Halvorn" "$trace"
  start=$(date +%s%N)
  https_proxy=http://127.0.0.1:9 LAUNCHER_FRAME_TRACE="$trace" "$launcher" >/dev/null 2>&1 &
  pid=$!
  until [[ -s "$trace" ]]; do sleep 0.005; done
  first=$(head -n1 "$trace")
  times+=($(((first - start) / 1000000)))
  kill "$pid"; wait "$pid" 2>/dev/null || true
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 5,6p | awk '{s += $1} END {printf "%d", s / NR}')
echo "start-up: median ${median} ms to the first frame (10 starts: ${times[*]})"

# --- a running job: a proxy that accepts and never answers holds the start-up check ------------
port_file="$work/port"
python3 - "$port_file" <<'PY' &
import socket, sys, time
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(16)
open(sys.argv[1], "w").write(str(server.getsockname()[1]))
held = []
while True:
    connection, _ = server.accept()
    held.append(connection)
PY
proxy=$!
pids+=("$proxy")
until [[ -s "$port_file" ]]; do sleep 0.01; done
rm -rf "$work/Halvorn" "$trace"
https_proxy="http://127.0.0.1:$(cat "$port_file")" LAUNCHER_FRAME_TRACE="$trace" "$launcher" >/dev/null 2>&1 &
pid=$!
pids+=("$pid")
sleep 1
before=$(lines "$trace")
sleep 3
after=$(lines "$trace")
grep -q "update check" "$log" 2>/dev/null && echo "job: the check ended early, the figure below is not a job's"
echo "job: $(((after - before) / 3)) frames per second while the start-up check runs"

# --- idle: the check ends when the proxy goes --------------------------------------------------
kill "$proxy"
until grep -q "update check" "$log" 2>/dev/null; do sleep 0.05; done
sleep 0.5
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks); f0=$(lines "$trace")
sleep 5
t1=$(ticks); f1=$(lines "$trace")
echo "idle: $(awk -v d=$((t1 - t0)) -v hz="$hz" 'BEGIN {printf "%.1f", 100 * d / (5 * hz)}')% of a core," \
     "$((f1 - f0)) frames in 5 s"
