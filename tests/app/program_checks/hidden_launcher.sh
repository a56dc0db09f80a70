# A launcher that plays at start waits hidden for the game; a second start of the launcher (a
# double click) ends at once with its log line, and the first one shows its window within 2 s,
# with the game shown as running and Play dimmed; once the game ends, the first stays open. Then
# a lock on the folder held by something that is no launcher: the start opens its window after
# about 2 s and logs that the folder could not be locked.
# Sourced by program_check.sh, inside its virtual X server.
[[ -n "${PROGRAM_CHECK_DISC_SHA1:-}" && -n "$PROGRAM_CHECK_BIN" ]] ||
  fail "needs a test build's helper programs and its disc's SHA-1"
exe=""
[[ "$platform" == windows ]] && exe=.exe
root="$folder/Halvorn"
play="$root/play"

# A game in place that the test build accepts: the test disc, recorded as chosen, and a game
# that hands over to a second process, which runs until release-second appears in play/.
mkdir -p "$play/assets"
image="$play/assets/halvorn.iso"
if [[ "$platform" == windows ]]; then
  image=$(winepath -w "$image" 2>/dev/null | tr -d '\r')
  wine "$PROGRAM_CHECK_BIN/make_test_disc.exe" "$image" </dev/null >/dev/null 2>&1
else
  "$PROGRAM_CHECK_BIN/make_test_disc" "$image"
fi
[[ -s "$play/assets/halvorn.iso" ]] || fail "make_test_disc wrote no image"
python3 - "$root/launcher.json" "$image" "$PROGRAM_CHECK_DISC_SHA1" <<'EOF'
import json, sys
with open(sys.argv[1], "w") as out:
    json.dump({"game": sys.argv[2], "game_sha1": sys.argv[3], "built": "v1.0"}, out)
EOF
cp "$PROGRAM_CHECK_BIN/played_game$exe" "$play/Halvorn$exe"
printf 'a stand-in' >"$play/Halvorn.dll"
: >"$play/second-process"

visible() { xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; }
played() { tr -d '\r' <"$play/played.txt" 2>/dev/null || true; }
first=""
holder=""
trap ': >"$play/release-second"; kill $first $holder 2>/dev/null || true; stop' EXIT

start --play
first=$pid
wait_for_log "play at start: the \(game started\|launcher stays\)"
grep -qxF "play at start: the game started, the launcher waits for it" <(plain_log) ||
  fail "the game was not started at launch"
for _ in $(seq 1 100); do
  [[ "$(played)" == *"second started"* ]] && ! visible && break
  sleep 0.1
done
[[ "$(played)" == *"second started"* ]] || fail "the game did not start: $(played)"
visible && fail "the launcher's window is visible while it waits for the game"
import -window root "$shots/$platform-hidden.png"

# The second start: it ends by itself at once, with code 0 and its log line.
start
for _ in $(seq 1 200); do running || break; sleep 0.05; done
running && { kill "$pid"; fail "the second launcher still ran after 10 s"; }
ended=$(now_ms)
code=0
wait "$pid" || code=$?
((code == 0)) || fail "the second launcher ended with code $code"
[[ "$(plain_log | grep '^another launcher' || true)" == \
  "another launcher runs on this folder: this one ends" ]] ||
  fail "the second launcher logged: $(plain_log | grep '^another' || true)"
pid=$first

# The first one leaves its wait and shows its window, within 2 s of the second one's end.
for _ in $(seq 1 100); do visible && break; sleep 0.05; done
shown=$(($(now_ms) - ended))
visible || fail "the first launcher's window did not show"
((shown <= 2000)) || fail "the first launcher's window showed ${shown} ms after the second start"
grep -qxF "play at start: the launcher was started again, it shows its window and stays" \
  <(plain_log) || fail "the first launcher did not say it stays"
sleep 3  # a few frames, on a busy machine too
shot="$shots/$platform-shown.png"
import -window root "$shot"
echo "program check ($platform): the hidden launcher showed its window ${shown} ms after a second start, screenshot $shot"

# The game ends: the first one stays open, its window shown.
: >"$play/release-second"
for _ in $(seq 1 200); do [[ "$(played)" == *"second ended"* ]] && break; sleep 0.1; done
[[ "$(played)" == *"second ended"* ]] || fail "the game did not end: $(played)"
sleep 3
running || fail "the first launcher closed when the game ended"
visible || fail "the first launcher's window went when the game ended"
grep -qF "the launcher closes" <(plain_log) && fail "the log says the launcher closes"
after="$shots/$platform-after-game.png"
import -window root "$after"
# Play is dimmed while the game runs: the gold of a lit Play button (over a good part of its
# face) comes only once the game has ended.
gold() { convert "$1" -format %c histogram:info:- | { grep -i '#958831' || true; } |
  awk -F: '{s += $1} END {print s + 0}'; }
lit=$(($(gold "$after") - $(gold "$shot")))
((lit >= 2000)) || fail "Play was not dimmed while the game ran ($lit more gold pixels on $after than on $shot)"
close_launcher 4000 8000
first=""

# Something that is no launcher holds the lock: on Linux a plain flock under an ID that names a
# live process without the file open (this shell); on Windows a program that has the file open
# without sharing (the tests' child program) and no launcher window.
rm -f "$log"
if [[ "$platform" == windows ]]; then
  (cd "$folder" && exec wine "$PROGRAM_CHECK_BIN/child.exe" lock Halvorn sleep 60000) \
    >"$folder/holder.out" 2>/dev/null </dev/null &
  holder=$!
  for _ in $(seq 1 300); do grep -q locked "$folder/holder.out" 2>/dev/null && break; sleep 0.1; done
  grep -q locked "$folder/holder.out" || fail "the child did not lock the folder: $(cat "$folder/holder.out")"
else
  printf '%s' "$$" >"$root/launcher.lock"
  flock "$root/launcher.lock" sleep 60 &
  holder=$!
  for _ in $(seq 1 100); do ! flock -n "$root/launcher.lock" true && break; sleep 0.1; done
fi
t0=$(now_ms)
start
wait_for_window
took=$(($(now_ms) - t0))
wait_for_log "the folder is not locked"
((took >= 1500)) || fail "the window opened ${took} ms after the start, before the lock's retry ended"
line=$(plain_log | grep '^the folder is not locked' || true)
[[ "$line" == "the folder is not locked, a second launcher on it is not kept out: Could not lock "*"launcher.lock: another program has held it for 2000 ms, and it is no launcher of this folder." ]] ||
  fail "the unlocked start logged: $line"
echo "program check ($platform): a lock that no launcher holds: the window opened after ${took} ms"
close_launcher 4000 8000
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
holder=""
