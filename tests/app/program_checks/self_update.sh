# The launcher's own update while the game that Play started runs, as a player would: a game in
# place (the test disc, and a game that hands over to a second process that runs until told to
# end), and a newer launcher offered by the start-up check. While the game runs "Update the
# launcher" is dimmed with "The game is running." beside it, and a press does nothing; once the
# game has ended a press downloads the new launcher, which starts while the old one ends.
#
# The hosting service is a local stand-in (release_proxy.py) that answers TLS for its hosts with
# certificates of an authority made here. The launcher trusts it through a bundle holding only
# that authority, bound over the system's bundle in a mount namespace of the launcher's own (Wine
# reads the same bundle for Windows' roots), so no request leaves the machine and the system
# keeps its own bundle. The Linux program reaches the stand-in as an HTTPS proxy through the proxy
# variables; WinHTTP under Wine does not read them, so for the Windows program a hosts file bound
# in the same namespace leads the hosts' names to 127.0.0.1, where the stand-in answers directly.
# A new launcher already in place that waits for a running game cannot be brought about from
# outside (Play is disabled while the download runs): the in-process tests cover it.
# Sourced by program_check.sh, inside its virtual X server.
skip() {
  echo "program check self_update ($platform) skipped: $*"
  exit 0
}
system_bundle=$(curl-config --ca 2>/dev/null || true)
[[ -n "$system_bundle" && -f "$system_bundle" ]] || skip "libcurl names no CA bundle file"
unshare --mount true 2>/dev/null || skip "a mount namespace cannot be made here (it needs root)"
ip link set lo up 2>/dev/null || true  # a network namespace of its own starts with it down
if [[ "$platform" == windows ]] && ip -o link show | grep -qv ': lo:'; then
  skip "the program's requests go to the hosts' own addresses, which only a network namespace" \
    "without a network can lead to 127.0.0.1"
fi

work_dir=$(dirname "$folder")
proxy_dir="$work_dir/proxy"
mkdir -p "$proxy_dir"
# A name of its own for every run: Wine keeps the roots it has seen in its prefix, and would take
# an earlier run's authority of the same name for this one's issuer.
openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -days 2 \
  -keyout "$proxy_dir/ca.key" -out "$proxy_dir/ca.pem" -subj "/CN=Program check CA $(now_ms)" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  >/dev/null 2>&1 || fail "openssl could not make the certificate authority"

# The game in place: the test disc chosen, the game's program and library in the play folder,
# built by this version (so no game update is offered).
exe=""
[[ "$platform" == windows ]] && exe=.exe
disc="$work_dir/disc/Halvorn.iso"
mkdir -p "$(dirname "$disc")"
if [[ "$platform" == windows ]]; then
  wine "$PROGRAM_CHECK_BIN/make_test_disc.exe" "$(winepath -w "$disc")" </dev/null >/dev/null 2>&1
  disc_named=$(winepath -w "$disc" | sed 's/\\/\\\\/g')  # as a JSON string's content
else
  "$PROGRAM_CHECK_BIN/make_test_disc" "$disc"
  disc_named=$disc
fi
[[ -s "$disc" ]] || fail "make_test_disc wrote no disc"
sha1=${PROGRAM_CHECK_DISC_SHA1:?the test build names the test disc}
play="$folder/Halvorn/play"
# The disc chosen as choosing it leaves it: linked into play/assets, where the game reads it.
mkdir -p "$play/assets"
ln "$disc" "$play/assets/Halvorn.iso"
cp "$PROGRAM_CHECK_BIN/played_game$exe" "$play/Halvorn$exe"
printf 'library' >"$play/Halvorn.dll"
: >"$play/second-process"
printf '{"game": "%s", "game_sha1": "%s", "built": "v1.0"}' "$disc_named" "$sha1" \
  >"$folder/Halvorn/launcher.json"

# The new launcher is the program itself with a few bytes more at its end, which it does not
# read: a launcher that is the release's byte for byte would not download it.
{ cat "$folder/$name"; printf 'the new launcher, v1.1'; } >"$proxy_dir/new-launcher"
program_before="$proxy_dir/old-launcher"
cp "$folder/$name" "$program_before"
# The Linux program reaches the stand-in through the proxy variables (libcurl reads them). The
# Windows program's WinHTTP under Wine does not, so there the hosts file leads the hosting
# service's names to 127.0.0.1, where the stand-in answers TLS itself.
mode=proxy
[[ "$platform" == windows ]] && mode=direct
python3 "$here/release_proxy.py" "$proxy_dir" v1.1 "$proxy_dir/new-launcher" "$mode" \
  2>"$proxy_dir/proxy.err" &
proxy=$!
new_pid=""
trap 'kill "$proxy" 2>/dev/null || true; [[ -n "$new_pid" ]] && kill "$new_pid" 2>/dev/null;
  : >"$play/release-second"; stop' EXIT
for _ in $(seq 1 100); do [[ -s "$proxy_dir/port" ]] && break; sleep 0.1; done
[[ -s "$proxy_dir/port" ]] || fail "the stand-in did not start: $(cat "$proxy_dir/proxy.err")"
if [[ "$mode" == proxy ]]; then
  via=http://127.0.0.1:$(cat "$proxy_dir/port")
  export http_proxy=$via https_proxy=$via HTTP_PROXY=$via HTTPS_PROXY=$via
  unset all_proxy ALL_PROXY no_proxy NO_PROXY
fi
{
  echo "127.0.0.1 localhost"
  echo "127.0.0.1 api.github.com github.com objects.githubusercontent.com"
} >"$proxy_dir/hosts"

# The launcher in a mount namespace of its own, where the system's CA bundle is the check's, and
# on Windows the hosts file the stand-in's.
start_trusting() {
  local run=("./$name")
  [[ "$platform" == windows ]] && run=(wine "./$name")
  (cd "$folder" && exec unshare --mount sh -c 'mount --bind "$1" "$2" &&
    { [ "$3" = proxy ] || mount --bind "$4" /etc/hosts; } && shift 4 && exec "$@"' sh \
    "$proxy_dir/ca.pem" "$system_bundle" "$mode" "$proxy_dir/hosts" "${run[@]}") \
    >/dev/null 2>"$folder/stderr.log" &
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
played() { tr -d '\r' 2>/dev/null <"$play/played.txt" || true; }
asked_for_download() { grep -q '^github.com ' "$proxy_dir/requests" 2>/dev/null; }

start_trusting
old_pid=$pid
wait_for_window
wait_for_log "update check: v1.1 is out, this launcher is v1.0: offered"
sleep 2  # a few frames with the banner
window_at
offered="$shots/$platform-update-offered.png"
shot_when_drawn "$offered"
# Places in the window (900 x 700 at scale 1, found on screenshots): the banner's "Update the
# launcher" (its face, and the room right of "Later" where the note goes) and "Play". Under Wine
# the window has a frame of Wine's own and the built-in font.
if [[ "$platform" == windows ]]; then
  update_at=(219 155) update_face=136x14+150+148 note_room=250x22+465+145
  play_at=(207 512)
else
  update_at=(226 148) update_face=120x16+166+140 note_room=260x22+450+137
  play_at=(234 538)
fi
header=4C5844 muted=A0AA95  # the ordinary buttons' face and the note's colour
(($(pixels_near "$offered" "$update_face" "$header" 0) >= 1000)) ||
  fail "\"Update the launcher\" is not offered on $offered"
(($(pixels_near "$offered" "$note_room" "$muted" 1600) == 0)) ||
  fail "a note stands beside the banner's buttons before the game runs on $offered"

# Takes screenshots into `file` until "Update the launcher" shows as enabled or dimmed, as
# asked; false when it does not within 20 s (a busy machine may be slow to draw the change).
update_button_shows() { # file enabled|dimmed
  local face
  for _ in $(seq 1 20); do
    import -window root "$1"
    face=$(pixels_near "$1" "$update_face" "$header" 0)
    [[ "$2" == enabled ]] && ((face >= 1000)) && return 0
    [[ "$2" == dimmed ]] && ((face < 100)) && return 0
    sleep 1
  done
  return 1
}

# Play: the game starts and hands over to its second process, which runs until told to end. A
# press that a busy machine's frames missed is pressed again (Play cannot start a second game).
for _ in 1 2 3; do
  click "${play_at[@]}"
  for _ in $(seq 1 100); do [[ "$(played)" == *"first exiting"* ]] && break; sleep 0.1; done
  [[ "$(played)" == *"first exiting"* ]] && break
done
[[ "$(played)" == *"first exiting"* ]] || fail "Play did not start the game: $(played)"
refused="$shots/$platform-update-refused.png"
update_button_shows "$refused" dimmed ||
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
ended="$shots/$platform-game-ended.png"
update_button_shows "$ended" enabled ||
  fail "\"Update the launcher\" is not offered again after the game's end on $ended"
# Pressed again when a busy machine's frames missed the press (a press while the download runs
# does nothing).
for _ in 1 2 3; do
  click "${update_at[@]}"
  for _ in $(seq 1 150); do running || break; sleep 0.1; done
  running || break
  asked_for_download && break
done
for _ in $(seq 1 300); do running || break; sleep 0.1; done
running && fail "the old launcher still runs 30 s after \"Update the launcher\""
wait "$old_pid" 2>/dev/null || true
asked_for_download || fail "the new launcher was not downloaded"
grep -qxF "self-update: starting the new launcher" <(plain_log) ||
  fail "the log does not tell of the hand-over"
cmp -s "$folder/$name" "$proxy_dir/new-launcher" || fail "the new launcher is not in place"
[[ -e "$folder/$name.new" ]] && fail "the download stayed beside the launcher"

# The new launcher: its window comes up, it takes the folder, and deletes the old program. On
# Windows a program cannot be deleted while it runs, and the old one is still ending as the new
# one starts: the old program then stays until a later start.
for _ in $(seq 1 600); do
  new_pid=$(xdotool search --name "^$title\$" getwindowpid 2>/dev/null | head -n1 || true)
  [[ -n "$new_pid" && "$new_pid" != "$old_pid" ]] && break
  sleep 0.1
done
[[ -n "$new_pid" && "$new_pid" != "$old_pid" ]] || fail "the new launcher's window did not come up"
if [[ "$platform" == windows ]]; then
  [[ ! -e "$folder/$name.old" ]] || cmp -s "$folder/$name.old" "$program_before" ||
    fail "the old program kept aside is not the launcher that ran before"
else
  for _ in $(seq 1 100); do [[ -e "$folder/$name.old" ]] || break; sleep 0.1; done
  [[ -e "$folder/$name.old" ]] && fail "the new launcher did not delete the old program"
fi
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
shot_when_drawn "$shots/$platform-new-launcher.png"
echo "program check ($platform): the new launcher started after the game's end, the old one ended"
close_launcher 4000 8000
new_pid=""
echo "program check ($platform): passed, screenshots in $shots"
