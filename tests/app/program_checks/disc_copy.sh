# A disc image on another drive than the launcher's folder (a tmpfs, which no hard link
# reaches), picked with "Choose a disc image...", is copied by a job while the window lives on:
# the footer's bar advances between two screenshots, a click on Manage takes effect within two
# seconds, and a close ends the program within seconds, leaving at most the copy's temporary and
# no record of the image. A copy killed halfway leaves its temporary, which the next start
# removes. A copy left to finish ends with the test disc chosen: "Test disc" under "Your game"
# and launcher.json naming the image.
# Sourced by program_check.sh, inside its virtual X server.

[[ -d /dev/shm && -w /dev/shm ]] || {
  echo "program check disc_copy ($platform) skipped: no /dev/shm, the other drive the disc image needs"
  return 0
}
disc_dir=$(mktemp -d /dev/shm/launcher-disc.XXXXXX)
[[ $(stat -c %d "$disc_dir") != $(stat -c %d "$folder") ]] ||
  fail "/dev/shm is on the same drive as the launcher's folder: a hard link would do"
image="$disc_dir/halvorn-test.iso"
image_name=$(basename "$image")
assets="$folder/Halvorn/play/assets"
size=$((4096 * 1024 * 1024))  # a hole at its end: a copy that takes a while, no room taken here
if [[ "$platform" == windows ]]; then
  # The image lies on a drive of its own, E:, which Wine maps to the folder on the tmpfs. The
  # picker is the system's file dialog, filled in by pick_image.
  drive="$WINEPREFIX/dosdevices/e:"
  ln -sfn "$disc_dir" "$drive"
  trap 'stop; rm -f "$drive"; rm -rf "$disc_dir"' EXIT
  chosen='E:\'"$image_name"
  wine "$PROGRAM_CHECK_BIN/make_test_disc.exe" "$chosen" "$size" </dev/null >/dev/null 2>&1 ||
    fail "make_test_disc did not write $chosen"
else
  trap 'stop; rm -rf "$disc_dir"' EXIT
  chosen=$image
  "$PROGRAM_CHECK_BIN/make_test_disc" "$image" "$size" || fail "make_test_disc did not write $image"
  # The picker is zenity, found through PATH: this one picks the image at once.
  mkdir -p "$folder/picker"
  printf '#!/bin/sh\nprintf "%%s\\n" "%s"\n' "$image" >"$folder/picker/zenity"
  chmod +x "$folder/picker/zenity"
  export PATH="$folder/picker:$PATH"
fi
[[ -s "$image" ]] || fail "make_test_disc wrote no image"

# Places in the window, from its top-left corner (900 x 700 at a scale of 1, found on
# screenshots; under Wine the window has a frame of Wine's own and the built-in font): the
# "Choose a disc image..." button, the Game and Manage rows (where a click lands, and a pixel at
# their left edge that turns olive when selected), the footer with the bar and its detail, and
# the room right of "Your game" where the chosen copy's release is named.
if [[ "$platform" == windows ]]; then
  choose_at=(228 150) game_at=(27 76) game_pixel=(10 76) manage_at=(34 106) manage_pixel=(10 106)
  footer=750x50+135+642 release_label=300x16+140+105
else
  choose_at=(230 142) game_at=(33 61) game_pixel=(5 61) manage_at=(33 95) manage_pixel=(5 95)
  footer=758x64+142+636 release_label=300x20+155+92
fi

# The window's place on the screen; the layout inside it is fixed at a scale of 1.
wx=0 wy=0
find_window() {
  local geometry
  geometry=$(xwininfo -name "$title")
  wx=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$geometry")
  wy=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$geometry")
}
# A click at x y within the window, as a pointer that comes from outside it makes one (ImGui's
# GLFW backend follows a pointer that it has not seen enter the window only while the window
# has the focus, which without a window manager it may not keep), with a pause between press
# and release, which ImGui needs. Sets `released` to the time just before the release.
released=0
click_at() {
  xdotool mousemove 0 0 sleep 0.2 mousemove $((wx + $1)) $((wy + $2)) sleep 0.2 mousedown 1 \
    sleep 0.2
  released=$(now_ms)
  xdotool mouseup 1 sleep 0.2 mousemove 0 0
}
colour_at() { # screenshot x y within the window: the pixel's colour as RRGGBB
  convert "$1" -crop "1x1+$((wx + $2))+$((wy + $3))" -format '%[hex:p{0,0}]' info:- | cut -c1-6
}
footer_pixels() { # screenshot: a digest of the footer, where the bar and its detail are
  local w h x y
  IFS='x+' read -r w h x y <<<"$footer"
  convert "$1" -crop "${w}x${h}+$((wx + x))+$((wy + y))" +repage rgb:- | md5sum
}
# After the press on "Choose a disc image...": on Windows the system's dialog comes up, and the
# image's name is typed into its "File name" box (the box a little left of the dialog's
# bottom-right corner) and taken with Enter; on Linux the stand-in picker has picked already.
# False when no dialog came up, as when the press was missed.
pick_image() {
  [[ "$platform" == windows ]] || return 0
  local dialog="" geometry dx dy dw dh
  for _ in $(seq 1 100); do
    dialog=$(xdotool search --onlyvisible --name "^Choose the game's disc image\$" 2>/dev/null |
      head -n1 || true)
    [[ -n "$dialog" ]] && break
    sleep 0.1
  done
  [[ -n "$dialog" ]] || return 1
  sleep 0.5  # its controls are drawn a moment after the window appears
  geometry=$(xwininfo -id "$dialog")
  dx=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$geometry")
  dy=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$geometry")
  dw=$(awk '/Width:/ {print $NF}' <<<"$geometry")
  dh=$(awk '/Height:/ {print $NF}' <<<"$geometry")
  xdotool mousemove $((dx + dw - 300)) $((dy + dh - 45)) sleep 0.2 mousedown 1 sleep 0.2 \
    mouseup 1 sleep 0.3
  xdotool type --delay 20 "$chosen"
  xdotool key Return
}
# Starts the launcher and presses "Choose a disc image..." once the start-up check has let go of
# the buttons, until the copy begins.
start_copy() {
  rm -f "$log"
  start
  wait_for_window
  wait_for_log "update check: "
  sleep 1
  find_window
  for _ in 1 2 3 4 5; do
    click_at "${choose_at[@]}"
    pick_image || continue
    for _ in $(seq 1 50); do
      grep -q "copying " "$log" 2>/dev/null && return 0
      running || fail "the launcher ended after the pick"
      sleep 0.1
    done
  done
  fail "the pick started no copy"
}
settings_name_image() {
  python3 -c 'import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8"))
sys.exit(0 if s.get("game") == sys.argv[2] and len(s.get("game_sha1", "")) == 40 else 1)' \
    "$folder/Halvorn/launcher.json" "$chosen" 2>/dev/null
}
# Only the copy's temporary may be there, and no record of the image.
check_nothing_chosen() { # what
  local entries
  entries=$(ls -A "$assets" 2>/dev/null || true)
  [[ -z "$entries" || "$entries" == "$image_name.tmp" ]] || fail "$1 left in play/assets: $entries"
  ! settings_name_image || fail "$1, launcher.json names the image"
}

# While the copy runs: the window repaints, Manage opens at once, and a close ends it all.
# The screenshots come early: a quiet machine copies fast and then waits for the disk, with the
# bar full.
start_copy
sleep 0.3
import -window root "$shots/$platform-copying-1.png"
sleep 1
import -window root "$shots/$platform-copying-2.png"
grep -q "game: " <(plain_log) && fail "the copy ended before the window could be looked at"
[[ "$(footer_pixels "$shots/$platform-copying-1.png")" != \
   "$(footer_pixels "$shots/$platform-copying-2.png")" ]] ||
  fail "the footer did not change in 1 s of copying: see $shots/$platform-copying-*.png"
[[ "$(colour_at "$shots/$platform-copying-2.png" "${game_pixel[@]}")" == 958831 ]] ||
  fail "the Game section is not the selected one in $shots/$platform-copying-2.png"
# The first click after the pick may go unseen here (the stand-in picker on Linux shows no window
# of its own, as a desktop's dialog does), so a click on the section already selected comes first.
click_at "${game_at[@]}"
sleep 0.5
# The Manage row turns olive as the section is selected; the watch starts before the click.
python3 "$here/pixel_colour.py" $((wx + manage_pixel[0])) $((wy + manage_pixel[1])) 958831 15000 >"$folder/manage.seen" &
watch=$!
for _ in $(seq 1 300); do grep -q ready "$folder/manage.seen" && break; sleep 0.05; done
click_at "${manage_at[@]}"
! grep -q "game: " <(plain_log) || fail "the copy ended before Manage was pressed"
took=""
if wait "$watch"; then
  took=$(($(tail -n1 "$folder/manage.seen") - released))
fi
import -window root "$shots/$platform-manage.png"
[[ -n "$took" ]] || fail "Manage did not open during the copy: see $shots/$platform-manage.png"
((took <= 2000)) || fail "Manage opened ${took} ms after the click during the copy"
echo "program check ($platform): during the copy the footer moves and Manage opened after ${took} ms"
copied=$(stat -c %s "$assets/$image_name.tmp" 2>/dev/null || echo 0)
close_launcher 3000 5000
# A close that comes once every byte is copied (the copy is on its way to the disk) may leave
# the whole copy; one that comes before leaves no more than the temporary.
((copied >= size)) || check_nothing_chosen "a close during the copy"

# Killed halfway, the copy leaves its temporary; the next start removes it.
start_copy
for _ in $(seq 1 600); do
  (($(stat -c %s "$assets/$image_name.tmp" 2>/dev/null || echo 0) >= 16 << 20)) && break
  sleep 0.1
done
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
[[ -f "$assets/$image_name.tmp" ]] || fail "the killed copy left no temporary: $(ls -A "$assets")"
check_nothing_chosen "a killed copy"
rm -f "$log"
start
wait_for_window
wait_for_log "update check: "
[[ ! -e "$assets/$image_name.tmp" ]] || fail "the start left the killed copy's temporary"
stop
echo "program check ($platform): the next start removed the killed copy's temporary"

# Left to finish, the copy is the game: "Test disc" in green under "Your game".
start_copy
for _ in $(seq 1 1800); do
  grep -q "game: " "$log" 2>/dev/null && break
  running || fail "the launcher ended during the copy"
  sleep 0.1
done
grep -qxF "game: $chosen, Test disc, sha1 $(sed -n 's/.*"game_sha1": *"\([0-9a-f]*\)".*/\1/p' \
  "$folder/Halvorn/launcher.json")" <(plain_log) || fail "the copy did not finish: $(plain_log)"
settings_name_image || fail "launcher.json does not name the image: $(cat "$folder/Halvorn/launcher.json")"
[[ "$(ls -A "$assets")" == "$image_name" ]] || fail "play/assets holds: $(ls -A "$assets")"
sleep 2  # a few frames
shot="$shots/$platform-copied.png"
import -window root "$shot"
IFS='x+' read -r w h x y <<<"$release_label"
green=$(convert "$shot" -crop "${w}x${h}+$((wx + x))+$((wy + y))" -format %c histogram:info:- |
  awk -F'[(,)]' 'NF > 3 {d = ($2 - 150)^2 + ($3 - 200)^2 + ($4 - 120)^2;
    if (d <= 1600) s += $1} END {print s + 0}')
((green >= 40)) || fail "no release label in green under \"Your game\" in $shot ($green pixels)"
close_launcher 4000 8000
echo "program check ($platform): passed, the copied disc is the game, screenshot $shot"
