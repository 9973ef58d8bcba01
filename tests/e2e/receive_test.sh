#!/usr/bin/env bash
# The receive screen of the real program under Xvfb, on a desktop without a camera: it opens on
# the microphone saying no webcam was found; on "Camera" it says so again, and "Start" says it
# once more and starts nothing; "Send +
# receive" asks through its warning first (Escape closes the warning, then leaves the screen),
# and "Received" opens the received messages.
source "$(dirname "$0")/lib.sh"

# Window coordinates at 480 x 800: the home screen's "Receive"; on the receive screen "Start",
# "Send + receive", "Received", the status line and a point inside the warning popup.
RECEIVE_X=181 RECEIVE_Y=682
START_X=140 START_Y=746
MODE_X=374 MODE_Y=746
RECEIVED_X=408 RECEIVED_Y=38
CAMERA_X=60 MIC_X=300 SOURCE_Y=102
WARN_X=30 WARN_Y=450
POPUP_RGB="38,42,52"

click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)); sleep 0.05; xdotool click 1; sleep 0.5; }
status_shot() { import -window root -crop "456x34+$((WX + 12))+$((WY + 670))" "$E2E_TMP/$1.png"; }
# The status line's text: its ink (everything not background) trimmed, "width height".
status_ink() {
  convert "$E2E_TMP/$1.png" -fuzz 10% -fill black -opaque '#34343E' -trim -format '%w %h\n' info:
}
running() { kill -0 "$LUMIKEY_PID" 2>/dev/null; }

open_lumikey
sleep 0.5

echo "== with no webcam the receive screen opens on the microphone and says why"
click_at $RECEIVE_X $RECEIVE_Y
status_shot opened
read -r ink_w ink_h < <(status_ink opened)
# "No webcam found: microphone selected" in the 18 px font: about 320 px wide, one line high.
[[ $ink_w -ge 280 && $ink_w -le 360 && $ink_h -ge 10 && $ink_h -le 20 ]] ||
  fail "the status line holds ${ink_w}x${ink_h} pixels of text, not the no-webcam message"
# The Microphone toggle is the one pressed: its half of the source row is the lighter one.
[[ "$(pixel_at $((WX + MIC_X)) $((WY + SOURCE_Y)))" != "$(pixel_at $((WX + CAMERA_X)) $((WY + SOURCE_Y)))" ]] ||
  fail "the source row shows no choice"
mic_rgb=$(pixel_at $((WX + MIC_X)) $((WY + SOURCE_Y)))

echo "== Camera says there is no webcam"
click_at $CAMERA_X $SOURCE_Y
[[ "$(pixel_at $((WX + CAMERA_X)) $((WY + SOURCE_Y)))" == "$mic_rgb" ]] || fail "Camera was not chosen"
status_shot before
read -r ink_w ink_h < <(status_ink before)
# "No webcam found": about 135 px.
[[ $ink_w -ge 110 && $ink_w -le 170 && $ink_h -ge 10 && $ink_h -le 20 ]] ||
  fail "the status line holds ${ink_w}x${ink_h} pixels of text, not \"No webcam found\""

echo "== Start says it again and starts nothing"
click_at $START_X $START_Y
status_shot after
[[ "$(compare -metric AE "$E2E_TMP/before.png" "$E2E_TMP/after.png" null: 2>&1)" == "0" ]] ||
  fail "the status line changed after Start"
grep -q "capture start" "$E2E_TMP/log" && fail "Start tried to open a camera"
running || fail "the program ended after Start"

echo "== Send + receive asks first; Escape closes the warning, then leaves the screen"
[[ "$(pixel_at $((WX + WARN_X)) $((WY + WARN_Y)))" == "$POPUP_RGB" ]] && fail "a popup is open already"
click_at $MODE_X $MODE_Y
[[ "$(pixel_at $((WX + WARN_X)) $((WY + WARN_Y)))" == "$POPUP_RGB" ]] || fail "no warning popup"
sleep 0.4; xdotool key --window "$win" Escape; sleep 0.5
running || fail "Escape with the warning open ended the program"
[[ "$(pixel_at $((WX + WARN_X)) $((WY + WARN_Y)))" == "$POPUP_RGB" ]] && fail "Escape left the warning open"
status_shot still
[[ "$(compare -metric AE "$E2E_TMP/before.png" "$E2E_TMP/still.png" null: 2>&1)" == "0" ]] ||
  fail "the first Escape left the receive screen"
sleep 0.4; xdotool key --window "$win" Escape; sleep 0.5
running || fail "Escape on the receive screen ended the program"
status_shot home
[[ "$(compare -metric AE "$E2E_TMP/before.png" "$E2E_TMP/home.png" null: 2>&1)" != "0" ]] ||
  fail "the second Escape did not leave the receive screen"

echo "== Received opens the received messages, and Escape comes back to Receive"
click_at $RECEIVE_X $RECEIVE_Y
click_at $RECEIVED_X $RECEIVED_Y
status_shot list
[[ "$(compare -metric AE "$E2E_TMP/before.png" "$E2E_TMP/list.png" null: 2>&1)" != "0" ]] ||
  fail "Received did not open another screen"
sleep 0.4; xdotool key --window "$win" Escape; sleep 0.5
status_shot back
# Coming back, the screen opens as it first did: on the microphone, with no webcam.
[[ "$(compare -metric AE "$E2E_TMP/opened.png" "$E2E_TMP/back.png" null: 2>&1)" == "0" ]] ||
  fail "Escape on the received list did not return to the receive screen"

echo "== Escape twice quits cleanly"
escape_twice_quits
echo "PASS"
