#!/usr/bin/env bash
# Runs one check of the launcher program as a player would: the program copied alone into a
# folder of its own and started under a virtual X server (through Wine for the Windows program).
#   program_check.sh CHECK linux|windows PROGRAM SCREENSHOT_DIR [TEST_BIN_DIR]
# CHECK names the script tests/app/program_checks/CHECK.sh, which runs inside with the variables
# and helpers below: $platform, $folder (the program's folder; its launcher's root is
# $folder/Halvorn), $title, $log, $shots (the screenshots stay there), $here (this folder),
# $PROGRAM_CHECK_BIN (the tests' helper programs, when given), $PROGRAM_CHECK_DISC_SHA1 (in a
# test build: the SHA-1 of the XBE of make_test_disc's image); start [ARGS] (the launcher in the
# background as $pid), stop, fail TEXT, wait_for_log PATTERN, wait_for_window, running, now_ms,
# plain_log (the log without time stamps), shot_when_drawn FILE (a screenshot once the window's
# page is drawn) and close_launcher WINDOW_MS END_MS. The Windows program
# runs in a Wine prefix of the check's own beside the screenshots (made at its first run), whose
# server starts inside the virtual X server: a server started without a display would give the
# program's windows no X window. No request leaves the machine: the program runs without a
# network where it can, and the proxy variables point at a closed local port, so the start-up
# check fails at once and says so in the log, unless the check points them elsewhere. A check
# that cannot run here prints "program check CHECK (PLATFORM) skipped: REASON" and exits 0, which
# ctest counts as skipped.
set -euo pipefail

if [[ "${1:-}" == --inside ]]; then
  shift
  check=$1 platform=$2 folder=$3 name=$4 shots=$5
  here=$(dirname "${BASH_SOURCE[0]}")
  title="Zemrik: Halvorn - Launcher"
  log="$folder/Halvorn/launcher.log"
  fail() {
    echo "program check $check ($platform): $*" >&2
    [[ -f "$log" ]] && { echo "launcher.log:"; cat "$log"; } >&2
    [[ -s "$folder/stderr.log" ]] && { echo "the launcher's errors:"; tail -n 20 "$folder/stderr.log"; } >&2
    exit 1
  }

  start() { # args...
    if [[ "$platform" == windows ]]; then
      (cd "$folder" && exec wine "./$name" "$@") >/dev/null 2>"$folder/stderr.log" &
    else
      (cd "$folder" && exec "./$name" "$@") >/dev/null 2>"$folder/stderr.log" &
    fi
    pid=$!
  }
  stop() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
  wait_for_log() { # pattern
    for _ in $(seq 1 600); do
      grep -q -- "$1" "$log" 2>/dev/null && return 0
      kill -0 "$pid" 2>/dev/null || fail "the launcher ended early"
      sleep 0.1
    done
    fail "launcher.log never said: $1"
  }
  wait_for_window() {
    for _ in $(seq 1 600); do
      xwininfo -root -tree | grep -qF "\"$title\"" && return 0
      kill -0 "$pid" 2>/dev/null || fail "the launcher ended before its window appeared"
      sleep 0.1
    done
    fail "no window titled \"$title\""
  }

  # A screenshot once the page's background covers much of the screen: a window is listed
  # before its first frame, which takes seconds under Wine on a busy machine.
  shot_when_drawn() { # file
    for _ in $(seq 1 60); do
      import -window root "$1"
      (($(convert "$1" -format %c histogram:info:- |
        awk '/#3E4637/ {s += $1} END {print s + 0}') >= 150000)) && return 0
      sleep 1
    done
    fail "the window was not drawn on $1"
  }
  now_ms() { echo $(($(date +%s%N) / 1000000)); }
  running() { # the launcher has not ended (a process that has ended but is not waited for is Z)
    local state=""
    read -r _ _ state _ 2>/dev/null <"/proc/$pid/stat" || return 1
    [[ "$state" != Z ]]
  }
  plain_log() { cut -c10- "$log" | tr -d '\r'; }
  close_launcher() { # bounds in ms: window gone, program ended
    local ids gone="" ended="" t0 t
    ids=$(xdotool search --name "^$title\$" 2>/dev/null || true)
    [[ -n "$ids" ]] || fail "no window to close"
    t0=$(python3 "$here/close_window.py" $ids)
    [[ "$t0" =~ ^[0-9]+$ ]] || fail "the close could not be sent: $t0"
    for _ in $(seq 1 400); do
      t=$(($(now_ms) - t0))
      if [[ -z "$gone" ]] && ! xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; then
        gone=$t
      fi
      running || { ended=$t; break; }
      sleep 0.05
    done
    [[ -n "$ended" ]] || { stop; fail "the launcher still ran 20 s after its window was closed"; }
    wait "$pid" 2>/dev/null || true
    ((gone <= $1)) || fail "the window stayed ${gone} ms after a close (at most $1 ms)"
    ((ended <= $2)) || fail "the launcher ended ${ended} ms after a close (at most $2 ms)"
    echo "program check ($platform): closed, window gone after ${gone} ms, ended after ${ended} ms"
  }

  if [[ "$platform" == windows && ! -f "$WINEPREFIX/system.reg" ]]; then
    wineboot -i </dev/null >/dev/null 2>&1
  fi
  if [[ "$platform" == windows ]]; then
    # No window manager runs here: Wine then draws the windows' frames itself instead of waiting
    # for a manager's answer (which made every hide wait 2 s).
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  fi
  # shellcheck source=/dev/null
  source "$here/program_checks/$check.sh"
  exit 0
fi

check=$1 platform=$2 program=$3 shots=$4 bin=${5:-}
mkdir -p "$shots"
shots=$(cd "$shots" && pwd)
work=$(mktemp -d)
xvfb=""
cleanup() {
  if [[ "$platform" == windows ]]; then wineserver -k </dev/null >/dev/null 2>&1 || true; fi
  if [[ -n "$xvfb" ]]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
folder="$work/Games"
mkdir -p "$folder"
cp "$program" "$folder/"
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9
export HTTP_PROXY=$http_proxy HTTPS_PROXY=$https_proxy
if [[ "$platform" == windows ]]; then
  # A prefix per check, as checks run side by side and each ends its Wine server.
  export WINEPREFIX="$shots/wineprefix-$check" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fi

# A virtual X server on a display number of its own. Runs that share /tmp but not the process
# list (separate containers) cannot tell a live server's lock file from a stale one, so servers
# that each take the lowest free number (-displayfd alone, xvfb-run -a) can end up on the same
# one, and the first to stop removes the other's socket. So the number is drawn at random far
# above the low ones; Xvfb exits when its number turns out to be taken, and another is drawn.
# -noreset keeps it from resetting when its last client leaves: a launcher started while it resets
# after the one before was ended cannot open the display, which a busy machine makes likely.
display_file="$work/display"
for _ in $(seq 1 20); do
  number=$((RANDOM % 40000 + 10000))
  [[ -e "/tmp/.X$number-lock" || -e "/tmp/.X11-unix/X$number" ]] && continue
  Xvfb ":$number" -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$display_file" \
    >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 1 300); do
    [[ -s "$display_file" ]] || ! kill -0 "$xvfb" 2>/dev/null && break
    sleep 0.1
  done
  [[ -s "$display_file" ]] && break
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
done
[[ -s "$display_file" ]] || { echo "program check $check ($platform): Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"
unset XAUTHORITY
# Where the system allows it the program runs in a network namespace of its own with no network
# at all: Wine's WinHTTP does not read the proxy variables, so they alone would not keep the
# Windows program's start-up check on the machine. The X server is reached through its socket
# file, which the namespace does not hide.
isolate=()
if unshare --net true 2>/dev/null; then isolate=(unshare --net); fi
export PROGRAM_CHECK_BIN=$bin
"${isolate[@]}" bash "${BASH_SOURCE[0]}" --inside "$check" "$platform" "$folder" \
  "$(basename "$program")" "$shots"
