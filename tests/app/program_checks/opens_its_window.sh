# The launcher's window, theme and start-up log, with settings that name a game copy that has
# gone and keys of other types, and an agreed.txt that is a folder; on Linux also that Shift held
# at start keeps the launcher open when "--play" asks to play. Then, against a local server that
# never answers, that play at start decides without the update check and that closing the window
# ends the program within seconds. Last, that a second launcher started on the same folder (plain
# and with "--play") ends by itself, shows no window and brings the first one's window forward.
# Sourced by program_check.sh, inside its virtual X server.
mkdir -p "$folder/Halvorn/agreed.txt"
printf '%s' '{"game": "/gone/halvorn.iso", "play_at_start": "yes", "music": 5, "built": []}' \
  >"$folder/Halvorn/launcher.json"
start
wait_for_window
wait_for_log "update check: "
sleep 2  # a few frames after the check has ended
shot="$shots/$platform.png"
# A busy machine may take seconds more before Wine shows the first frame.
shot_when_drawn "$shot"
stop

# The start-up lines: a time stamp, then the check's outcome.
first=$(head -n1 "$log" | tr -d '\r')
[[ "$first" =~ ^[0-9]{2}:[0-9]{2}:[0-9]{2}\ update\ check:\ . ]] || fail "first log line: $first"

# The theme's colours, each over a good part of the window: the page's background, the section
# list, the header band, the selected section; and the error line saying the game copy is gone.
histogram=$(convert "$shot" -format %c histogram:info:-)
count() { { grep -i "#$1" <<<"$histogram" || true; } | awk -F: '{s += $1} END {print s + 0}'; }
# Text is smoothed at its edges: the error line counts every pixel within 40 of its red.
near_red=$(awk -F'[(,)]' 'NF > 3 {d = ($2 - 235)^2 + ($3 - 130)^2 + ($4 - 105)^2;
  if (d <= 1600) s += $1} END {print s + 0}' <<<"$histogram")
((near_red >= 150)) || fail "the error line's red covers $near_red pixels of $shot"
for want in 3E4637:150000 2E3429:30000 4C5844:30000 958831:2000; do
  colour=${want%%:*} least=${want##*:}
  got=$(count "$colour")
  ((got >= least)) || fail "colour #$colour covers $got pixels of $shot, expected at least $least"
done

if [[ "$platform" == linux ]]; then
  rm -f "$log"
  xdotool keydown Shift_L sleep 30 &
  holder=$!
  sleep 3  # time for xdotool to press the key, on a busy machine too
  start --PLAY
  wait_for_log "play at start: "
  stop
  kill "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  xdotool keyup Shift_L  # the X server, which never resets, would keep it held
  grep -qxF "play at start: --play, Shift held: the launcher stays" <(cut -c10- "$log" | tr -d '\r') \
    || fail "with Shift held the log reads: $(cat "$log")"
fi
# A network that takes every connection and never answers: the proxy variables lead every
# request to a silent server. Asked to play, the launcher decides a few seconds after its start
# without the update check's answer; a close takes the window away at once and ends the program
# within a few seconds though its check still waits (the check's own limit is 15 s, the
# transport's time-outs a minute).
ip link set lo up 2>/dev/null || true  # a network namespace of its own starts with it down
python3 "$here/silent_server.py" "$folder/silent.port" "$folder/silent.accepted" &
server=$!
trap 'kill "$server" 2>/dev/null || true; stop' EXIT  # a failed check leaves neither running
for _ in $(seq 1 100); do [[ -s "$folder/silent.port" ]] && break; sleep 0.1; done
[[ -s "$folder/silent.port" ]] || fail "the silent server did not start"
silent=http://127.0.0.1:$(cat "$folder/silent.port")
export http_proxy=$silent https_proxy=$silent all_proxy=$silent
export HTTP_PROXY=$silent HTTPS_PROXY=$silent ALL_PROXY=$silent
# Waits until the check's request has reached the silent server; false when none comes.
stalled() {
  for _ in $(seq 1 150); do
    [[ -s "$folder/silent.accepted" ]] && return 0
    sleep 0.1
  done
  return 1
}
# While the start-up check waits for the silent server, the footer's bar names the host and
# the seconds without an answer (from 5 s on; the check gives up after 15 s): about 9 s after
# the request, the text's colour covers part of the middle of the bar, which is empty before.
check_wait_named() {
  if [[ "$platform" == windows ]]; then
    echo "program check ($platform): skipped the wait's text: WinHTTP's automatic proxy under" \
      "Wine does not read the proxy variables, so no request reaches the silent server"
    return
  fi
  rm -f "$log" "$folder/silent.accepted"
  start
  wait_for_window
  stalled || fail "the update check's request never reached the silent server"
  sleep 9
  local waiting="$shots/$platform-waiting.png" geometry x y w h crop text_pixels
  import -window root "$waiting"
  geometry=$(xwininfo -name "$title")
  x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$geometry")
  y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$geometry")
  w=$(awk '/Width:/ {print $NF}' <<<"$geometry")
  h=$(awk '/Height:/ {print $NF}' <<<"$geometry")
  crop="$((w * 45 / 100))x28+$((x + w * 30 / 100))+$((y + h - 38))"
  # The theme's text colour, with its smoothed edges.
  text_pixels=$(convert "$waiting" -crop "$crop" -format %c histogram:info:- |
    awk -F'[(,)]' 'NF > 3 {d = ($2 - 216)^2 + ($3 - 222)^2 + ($4 - 211)^2;
      if (d <= 1600) s += $1} END {print s + 0}')
  ((text_pixels >= 100)) ||
    fail "no wait named in the footer's bar of $waiting ($text_pixels text pixels in $crop)"
  echo "program check ($platform): the footer names the wait, screenshot $waiting"
  close_launcher 4000 8000
}
unanswered="play at start: the update check has not answered in 5 s, no update known"

rm -f "$log" "$folder/silent.accepted"
started=$(now_ms)
start --play
wait_for_window
if stalled; then
  wait_for_log "play at start: the launcher stays"
  decided=$(($(now_ms) - started))
  grep -qxF "$unanswered" <(plain_log) || fail "asked to play, the log reads: $(plain_log)"
  ((decided <= 12000)) || fail "play at start decided ${decided} ms after the start"
  sleep 1  # a few frames after the decision
  import -window root "$shots/$platform-stalled.png"
  close_launcher 4000 8000

  rm -f "$log" "$folder/silent.accepted"
  start
  wait_for_window
  stalled || fail "the update check's request never reached the silent server"
  close_launcher 4000 8000
elif [[ "$platform" == linux ]]; then
  fail "the update check's request never reached the silent server"
else
  # The program's WinHTTP session asks for the system's automatic proxy, which Wine's WinHTTP
  # does not take from these variables: its request goes nowhere in the namespace without a
  # network and the check ends at once, so only the close is timed here.
  echo "program check ($platform): skipped the silent network: WinHTTP's automatic proxy" \
    "under Wine does not read the proxy variables"
  close_launcher 4000 8000
fi
check_wait_named
# A second launcher started on the same folder (a double click twice, a shortcut's --play while
# one runs) changes nothing: it ends by itself within a few seconds with code 0, adds one line
# to the log and never shows a window of its own, and the first one's window comes forward
# over a window opened after it. No window manager runs here, so "forward" is the stacking
# order: xwininfo lists the root's children topmost first. The covering window is one of the
# system's own (Wine's Notepad for the Windows program, which Windows then knows to be in
# front); a new one covers the launcher for each round. The first one's update check may still
# wait on the silent network meanwhile, which changes none of that.
second_launcher_check() {
  local first round args before baseline count most code t0 took want
  cover="" cover_title=xmessage  # not local: the exit trap ends the cover too
  [[ "$platform" == windows ]] && cover_title="Untitled - Notepad"
  # The stacking order of the launcher's and the cover's windows, topmost first.
  order() {
    xwininfo -root -children | sed -nE 's/^ *0x[0-9a-f]+ "([^"]*)":.*/\1/p' \
      | { grep -xF -e "$title" -e "$cover_title" || true; } | paste -sd,
  }
  end_cover() {
    [[ -n "$cover" ]] || return 0
    kill "$cover" 2>/dev/null || true
    wait "$cover" 2>/dev/null || true
    for _ in $(seq 1 100); do [[ "$(order)" == *"$cover_title"* ]] || break; sleep 0.1; done
    cover=""
  }
  cover_launcher() {
    end_cover
    if [[ "$platform" == windows ]]; then
      wine notepad </dev/null >/dev/null 2>&1 &
    else
      xmessage -geometry 1280x800+0+0 "covering the launcher" >/dev/null 2>&1 &
    fi
    cover=$!
    for _ in $(seq 1 100); do [[ "$(order)" == "$cover_title",* ]] && return 0; sleep 0.1; done
    fail "the covering window is not above the launcher: $(order)"
  }
  # The log's lines of second launchers; the first one's may come in between (its update check).
  second_lines() { { plain_log 2>/dev/null || true; } | { grep '^another launcher' || true; }; }

  rm -f "$log"
  start
  first=$pid
  trap 'kill "$server" "$first" 2>/dev/null || true; end_cover; stop' EXIT
  wait_for_window
  # The window is listed before it is shown, and GLFW raises it as it shows it: the cover must
  # come after that.
  for _ in $(seq 1 600); do
    xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 && break
    sleep 0.1
  done
  baseline=$(xwininfo -root -tree | grep -cF "\"$title\"")
  for round in plain --play; do
    args=()
    [[ "$round" == --play ]] && args=(--play)
    cover_launcher
    before=$(second_lines | wc -l)
    t0=$(now_ms)
    start "${args[@]}"
    most=$baseline
    for _ in $(seq 1 200); do  # 10 s, for a busy machine; the second ends long before
      running || break
      count=$(xwininfo -root -tree | grep -cF "\"$title\"")
      ((count > most)) && most=$count
      sleep 0.05
    done
    running && { kill "$pid"; fail "the second launcher ($round) still ran after 10 s"; }
    took=$(($(now_ms) - t0))
    code=0
    wait "$pid" || code=$?
    ((code == 0)) || fail "the second launcher ($round) ended with code $code"
    ((most == baseline)) || fail "the second launcher ($round) showed a window of its own"
    (($(second_lines | wc -l) == before + 1)) || fail "the second launcher ($round) did not add one log line"
    want="another launcher runs on this folder: this one ends"
    [[ "$round" == --play ]] && want+=" without playing"
    [[ "$(second_lines | tail -n1)" == "$want" ]] \
      || fail "the second launcher ($round) logged: $(second_lines | tail -n1)"
    # The first one comes forward on its next frame (an idle one waits a second for events).
    for _ in $(seq 1 50); do [[ "$(order)" == "$title",* ]] && break; sleep 0.1; done
    [[ "$(order)" == "$title",* ]] || fail "the first launcher's window did not come forward ($round): $(order)"
    kill -0 "$first" 2>/dev/null || fail "the first launcher ended with the second ($round)"
    echo "program check ($platform): a second launcher ($round) ended after ${took} ms, the first came forward"
  done
  import -window root "$shots/$platform-second.png"
  end_cover
  pid=$first
  stop
}
second_launcher_check

echo "program check ($platform): passed, screenshot $shot"
