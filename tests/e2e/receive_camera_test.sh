#!/usr/bin/env bash
# The receive screen reading a camera, end to end: LUMIKEY_CAMERA names a video of a room with
# a small Morse lamp somewhere in it, filmed with a real camera's effects (lag, auto-exposure,
# noise, jitter, dropped frames, rolling shutter). The real program finds the light, shows the
# preview and lands the message in received.json; when the video ends the camera counts as
# gone and nothing received is lost. A camera that cannot be opened says so and starts nothing.
# With two webcams (stand-ins listed by LUMIKEY_WEBCAMS) the user picks one by its name: the
# choice is kept in settings.json, and a webcam gone falls back to the other.
source "$(dirname "$0")/lib.sh"
film="$LUMIKEY_BUILD/tests/camera_film_app"
SAVE="$E2E_TMP/home/.local/share/lumikey"
click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05; xdotool click 1; sleep 0.5; }

"$film" "$E2E_TMP/lamp.mkv" "CQ DE TEST" wpm=12 noise=8 || fail "could not film the lamp"
mkdir -p "$SAVE"
echo '{ "version": 1, "eom_timeout_ms": 1500 }' >"$SAVE/settings.json"

echo "== Receive opens on the camera named by LUMIKEY_CAMERA, and Start reads it"
open_lumikey LUMIKEY_CAMERA="$E2E_TMP/lamp.mkv"
sleep 0.5
click_at 181 682 # home: "Receive"
click_at 140 746 # "Start"
wait_log "capture start: 1"
wait_log "light found at"
# The preview: the grey picture of the room, no longer the dark empty box.
import -window root -crop "300x200+$((WX + 90))+$((WY + 150))" "$E2E_TMP/preview.png"
grey=$(convert "$E2E_TMP/preview.png" -colorspace gray -format '%[fx:standard_deviation*255]' info:)
[[ ${grey%.*} -ge 4 ]] || fail "the preview shows no picture (deviation $grey)"

echo "== the message lands in received.json"
wait_log "received 'CQ DE TEST'"
for _ in $(seq 1 50); do grep -qF "CQ DE TEST" "$SAVE/received.json" 2>/dev/null && break; sleep 0.1; done
python3 - "$SAVE/received.json" <<'PY' || fail "received.json: $(cat "$SAVE/received.json")"
import json, sys
m = json.load(open(sys.argv[1]))["received"][0]
assert m["text"] == "CQ DE TEST", m
assert m["symbols"] == "-.-. --.- / -.. . / - . ... -", m
assert 85 <= m["unit_ms"] <= 115, m
PY

echo "== the end of the video stops the camera and keeps what was received"
wait_log "camera input ended"
for _ in $(seq 1 30); do grep -qF "capture start" "$E2E_TMP/log" && ! kill -0 "$LUMIKEY_PID" 2>/dev/null && break; sleep 0.1; done
kill -0 "$LUMIKEY_PID" 2>/dev/null || fail "the program ended with the video"
sleep 0.5
python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["received"]; assert len(r)==1 and r[0]["text"]=="CQ DE TEST", r' \
  "$SAVE/received.json" || fail "the stop lost or doubled a message"
escape_twice_quits

echo "== a camera that is not a video says so and starts nothing"
echo "not a video" >"$E2E_TMP/notes.mkv"
: >"$E2E_TMP/log"
open_lumikey LUMIKEY_CAMERA="$E2E_TMP/notes.mkv"
sleep 0.5
click_at 181 682
click_at 140 746
wait_log "capture start: -2"
expect_log "camera $E2E_TMP/notes.mkv:"
kill -0 "$LUMIKEY_PID" 2>/dev/null || fail "a bad camera ended the program"
escape_twice_quits

echo "== two webcams: an old file's lens flag picks the first, the row picks by name"
cams="$E2E_TMP/webcams"
mkdir -p "$cams"
printf 'Integrated Camera\nusb-0000:00:14.0-5\n%s\n' "$E2E_TMP/notes.mkv" >"$cams/video0"
printf 'HD Pro Webcam C920\nusb-0000:00:14.0-2\n%s\n' "$E2E_TMP/lamp.mkv" >"$cams/video2"
echo '{ "version": 1, "rx_front_camera": true }' >"$SAVE/settings.json"
: >"$E2E_TMP/log"
open_lumikey LUMIKEY_WEBCAMS="$cams"
sleep 0.5
click_at 181 682
click_at 140 746
wait_log "camera $E2E_TMP/notes.mkv:"
click_at 290 166 # the webcam row's list
import -window root -crop "480x800+$WX+$WY" "$LUMIKEY_BUILD/receive_webcams.png"
click_at 290 270 # its second entry
for _ in $(seq 1 50); do grep -qF '"rx_camera"' "$SAVE/settings.json" && break; sleep 0.1; done
kept() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1])).get("rx_camera"))' "$SAVE/settings.json"; }
[[ $(kept) == "HD Pro Webcam C920 (usb-0000:00:14.0-2)" ]] || fail "the choice was not kept: $(cat "$SAVE/settings.json")"
click_at 140 746
wait_log "camera $E2E_TMP/lamp.mkv opened"
xdotool windowsize "$win" 800 480
sleep 1
import -window root -crop "800x480+$WX+$WY" "$LUMIKEY_BUILD/receive_webcams_landscape.png"
escape_twice_quits

echo "== the chosen webcam gone, a start opens the other and says so"
rm "$cams/video2"
: >"$E2E_TMP/log"
open_lumikey LUMIKEY_WEBCAMS="$cams"
sleep 0.5
click_at 181 682
click_at 140 746
wait_log "webcam HD Pro Webcam C920 (usb-0000:00:14.0-2) not found: Integrated Camera (usb-0000:00:14.0-5) instead"
[[ $(kept) == "HD Pro Webcam C920 (usb-0000:00:14.0-2)" ]] || fail "the gone webcam's choice was forgotten"
escape_twice_quits
echo "PASS"
