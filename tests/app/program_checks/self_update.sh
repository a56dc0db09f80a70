# The launcher's own update while the game that Play started runs, as a player would: a game in
# place (the test disc, a game that hands over to a second process that runs until told to end),
# and a newer launcher offered by the start-up check. While the game runs "Update the launcher"
# is dimmed with "The game is running." beside it, and a press does nothing; once the game has
# ended a press downloads the new launcher, which starts while the old one ends.
#
# The hosting service is a local stand-in (release_proxy.py) behind the proxy variables, which
# answers TLS for every host with certificates of an authority made here. The launcher trusts it
# through a bundle holding only that authority, bound over the system's bundle in a mount
# namespace of the launcher's own, so no request leaves the machine and the system keeps its
# own bundle. A new launcher already in place that waits for a running game cannot be brought
# about from outside (Play is disabled while the download runs): the in-process tests cover it.
# Sourced by program_check.sh, inside its virtual X server.
skip() {
  echo "program check self_update ($platform) skipped: $*"
  exit 0
}
if [[ "$platform" == windows ]]; then
  skip "WinHTTP under Wine does not read the proxy variables, so the program's requests cannot" \
    "be led to the local stand-in for the hosting service"
fi
system_bundle=$(curl-config --ca 2>/dev/null || true)
[[ -n "$system_bundle" && -f "$system_bundle" ]] || skip "libcurl names no CA bundle file"
unshare --mount true 2>/dev/null || skip "a mount namespace cannot be made here (it needs root)"

work_dir=$(dirname "$folder")
proxy_dir="$work_dir/proxy"
mkdir -p "$proxy_dir"
openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
  -keyout "$proxy_dir/ca.key" -out "$proxy_dir/ca.pem" -days 2 -subj "/CN=Program check CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  >/dev/null 2>&1 || fail "openssl could not make the certificate authority"

# The game in place: the test disc chosen, the game's program and library in the play folder,
# built by this version (so no game update is offered).
disc="$work_dir/disc/Halvorn.iso"
mkdir -p "$(dirname "$disc")"
"$PROGRAM_CHECK_BIN/make_test_disc" "$disc" || fail "make_test_disc failed"
xbe=$(sed -nE 's/^set\(LAUNCHER_TEST_DISC_XBE "(.*)"\)$/\1/p' "$here/../../CMakeLists.txt")
[[ -n "$xbe" ]] || fail "CMakeLists.txt names no LAUNCHER_TEST_DISC_XBE"
sha1=$(printf '%s' "$xbe" | sha1sum | cut -d' ' -f1)
play="$folder/Halvorn/play"
mkdir -p "$play"
cp "$PROGRAM_CHECK_BIN/played_game" "$play/Halvorn"
printf 'library' >"$play/Halvorn.dll"
: >"$play/second-process"
printf '{"game": "%s", "game_sha1": "%s", "built": "v1.0"}' "$disc" "$sha1" \
  >"$folder/Halvorn/launcher.json"

# The new launcher is the program itself with a few bytes more at its end, which it does not
# read: a launcher that is the release's byte for byte would not download it.
{ cat "$folder/$name"; printf 'the new launcher, v1.1'; } >"$proxy_dir/new-launcher"
ip link set lo up 2>/dev/null || true  # a network namespace of its own starts with it down
python3 "$here/release_proxy.py" "$proxy_dir" v1.1 "$proxy_dir/new-launcher" \
  2>"$proxy_dir/proxy.err" &
proxy=$!
new_pid=""
trap 'kill "$proxy" 2>/dev/null || true; [[ -n "$new_pid" ]] && kill "$new_pid" 2>/dev/null;
  : >"$play/release-second"; stop' EXIT
for _ in $(seq 1 100); do [[ -s "$proxy_dir/port" ]] && break; sleep 0.1; done
[[ -s "$proxy_dir/port" ]] || fail "the proxy did not start: $(cat "$proxy_dir/proxy.err")"
via=http://127.0.0.1:$(cat "$proxy_dir/port")
export http_proxy=$via https_proxy=$via HTTP_PROXY=$via HTTPS_PROXY=$via
unset all_proxy ALL_PROXY no_proxy NO_PROXY

# The launcher in a mount namespace of its own, where the system's CA bundle is the check's.
start_trusting() {
  (cd "$folder" && exec unshare --mount sh -c 'mount --bind "$1" "$2" && exec "./$3"' sh \
    "$proxy_dir/ca.pem" "$system_bundle" "$name") >/dev/null 2>"$folder/stderr.log" &
  pid=$!
}
# The window's top-left corner on the screen.
window_at() {
  local geometry
  geometry=$(xwininfo -name "$title")
  win_x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$geometry")
  win_y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$geometry")
}
# A click at a point of the window, with a pause between press and release.
click() { # x y, from the window's top-left corner
  xdotool mousemove $((win_x + $1)) $((win_y + $2)) sleep 0.3 mousedown 1 sleep 0.3 mouseup 1 \
    sleep 0.3 mousemove 0 0
}
# How many pixels of a region of a screenshot lie near `colour`: within a squared distance of
# `spread` (0 for the colour alone; 1600 takes in smoothed text edges).
pixels_near() { # shot WxH+X+Y (from the window's corner) RRGGBB spread
  local w h x y
  IFS='x+' read -r w h x y <<<"$2"
  convert "$1" -crop "${w}x${h}+$((win_x + x))+$((win_y + y))" -format %c histogram:info:- |
    awk -F'[(,)]' -v r=$((16#${3:0:2})) -v g=$((16#${3:2:2})) -v b=$((16#${3:4:2})) -v most="$4" \
      'NF > 3 {d = ($2 - r)^2 + ($3 - g)^2 + ($4 - b)^2; if (d <= most) s += $1} END {print s + 0}'
}
played() { tr -d '\r' <"$play/played.txt" 2>/dev/null || true; }
asked_for_download() { grep -q '^github.com ' "$proxy_dir/requests" 2>/dev/null; }

start_trusting
old_pid=$pid
wait_for_window
wait_for_log "update check: v1.1 is out, this launcher is v1.0: offered"
sleep 2  # a few frames with the banner
window_at
offered="$shots/$platform-update-offered.png"
import -window root "$offered"
# Places in the window (900 x 700 at scale 1, found on a screenshot): the banner's "Update the
# launcher" (its face, and the room right of "Later" where the note goes) and "Play".
update_at=(226 148) update_face=120x16+166+140 note_room=260x22+450+137
play_at=(234 538)
header=4C5844 muted=A0AA95  # the ordinary buttons' face and the note's colour
(($(pixels_near "$offered" "$update_face" "$header" 0) >= 1000)) ||
  fail "\"Update the launcher\" is not offered on $offered"
(($(pixels_near "$offered" "$note_room" "$muted" 1600) == 0)) ||
  fail "a note stands beside the banner's buttons before the game runs on $offered"

# Play: the game starts and hands over to its second process, which runs until told to end.
click "${play_at[@]}"
for _ in $(seq 1 100); do [[ "$(played)" == *"first exiting"* ]] && break; sleep 0.1; done
[[ "$(played)" == *"first exiting"* ]] || fail "Play did not start the game: $(played)"
sleep 2  # a few frames with the game running
refused="$shots/$platform-update-refused.png"
import -window root "$refused"
(($(pixels_near "$refused" "$update_face" "$header" 0) < 100)) ||
  fail "\"Update the launcher\" is not dimmed while the game runs on $refused"
(($(pixels_near "$refused" "$note_room" "$muted" 1600) >= 100)) ||
  fail "no note beside the banner's buttons while the game runs on $refused"
click "${update_at[@]}"
sleep 3  # time for a download to begin, were it to
asked_for_download && fail "a press while the game runs asked for the new launcher"
[[ -e "$folder/$name.new" || -e "$folder/$name.old" ]] &&
  fail "a press while the game runs changed the launcher's files"
running || fail "the launcher ended while the game runs"
[[ "$(played)" == *"second ended"* ]] && fail "the game ended before it was told to"
echo "program check ($platform): \"Update the launcher\" waits while the game runs, screenshot" \
  "$refused"

# The game ends: the button comes back, and a press brings the new launcher, which starts.
: >"$play/release-second"
for _ in $(seq 1 100); do [[ "$(played)" == *"second ended"* ]] && break; sleep 0.1; done
[[ "$(played)" == *"second ended"* ]] || fail "the game did not end: $(played)"
sleep 2  # the launcher sees the game's end at its next frame
ended="$shots/$platform-game-ended.png"
import -window root "$ended"
(($(pixels_near "$ended" "$update_face" "$header" 0) >= 1000)) ||
  fail "\"Update the launcher\" is not offered again after the game's end on $ended"
click "${update_at[@]}"
for _ in $(seq 1 300); do running || break; sleep 0.1; done
running && fail "the old launcher still runs 30 s after \"Update the launcher\""
wait "$old_pid" 2>/dev/null || true
asked_for_download || fail "the new launcher was not downloaded"
grep -qxF "self-update: starting the new launcher" <(plain_log) ||
  fail "the log does not tell of the hand-over"
cmp -s "$folder/$name" "$proxy_dir/new-launcher" || fail "the new launcher is not in place"
[[ -e "$folder/$name.new" ]] && fail "the download stayed beside the launcher"

# The new launcher: its window comes up, it takes the folder, and deletes the old program.
for _ in $(seq 1 600); do
  new_pid=$(xdotool search --name "^$title\$" getwindowpid 2>/dev/null | head -n1 || true)
  [[ -n "$new_pid" && "$new_pid" != "$old_pid" ]] && break
  sleep 0.1
done
[[ -n "$new_pid" && "$new_pid" != "$old_pid" ]] || fail "the new launcher's window did not come up"
for _ in $(seq 1 100); do [[ -e "$folder/$name.old" ]] || break; sleep 0.1; done
[[ -e "$folder/$name.old" ]] && fail "the new launcher did not delete the old program"
wait_for_log_lines() { # pattern count
  for _ in $(seq 1 300); do
    (($(plain_log | grep -c -- "$1") >= $2)) && return 0
    sleep 0.1
  done
  fail "launcher.log did not say $2 times: $1"
}
pid=$new_pid
wait_for_log_lines "^update check: " 2
sleep 2
import -window root "$shots/$platform-new-launcher.png"
echo "program check ($platform): the new launcher started after the game's end, the old one ended"
close_launcher 4000 8000
new_pid=""
echo "program check ($platform): passed, screenshots in $shots"
