#!/usr/bin/env bash
# The options dialog in a real window, under Xvfb, driven with xdotool as a
# person would: change the zoom, press "update", drag the canvas, change
# Threshold, close. Then checks the saved settings, and that the window's
# canvas shows exactly what the headless back end paints when it replays
# what the user did (recorded with --record).
#
# usage: dialog_window_test.sh ORU_PROGRAM WORK_FOLDER
# Exits 77 (skipped) with a message when no X server can be started.
set -euo pipefail
oru="$1"
work="$2"

skip() {
  echo "SKIPPED: $*"
  exit 77
}
for tool in Xvfb xdpyinfo xdotool import convert compare; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps installs it)"
done

rm -rf "$work"
mkdir -p "$work"
xvfb=""
dialog=""
cleanup() {
  [ -n "$dialog" ] && kill "$dialog" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

# An X server of our own. Other programs on this machine may run X servers
# that this one cannot see the lock files of, so the screen gets a size of
# its own (1031 x 773) and the server that answers on a display must show it.
# -noreset: by default the server resets when its last client (xdpyinfo
# here) leaves, and refuses connections while it does.
width=1031
height=773
start=$((100 + $$ % 800))
for n in $(seq "$start" $((start + 20))); do
  Xvfb ":$n" -screen 0 "${width}x${height}x24" -nolisten tcp -noreset 2>"$work/xvfb.log" &
  xvfb=$!
  for _ in $(seq 50); do
    kill -0 "$xvfb" 2>/dev/null || break
    xdpyinfo -display ":$n" >/dev/null 2>&1 && break
    sleep 0.1
  done
  xdpyinfo -display ":$n" >"$work/xdpyinfo" 2>&1 || true
  if kill -0 "$xvfb" 2>/dev/null && grep -q "dimensions: *${width}x${height} pixels" "$work/xdpyinfo"; then
    export DISPLAY=":$n"
    break
  fi
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
done
[ -n "$xvfb" ] || skip "no X server could be started: $(tail -n 3 "$work/xvfb.log")"

fail() {
  echo "FAILED: $*"
  echo "display $DISPLAY: $(xdpyinfo 2>/dev/null | grep dimensions || true)"
  xdotool search --name 'Oru' 2>/dev/null | while read -r w; do xdotool getwindowname "$w"; done || true
  for f in "$work"/dialog.out "$work"/recorded.txt; do
    [ -f "$f" ] && { echo "--- $f"; cat "$f"; }
  done
  exit 1
}

# A frame with a slanted edge and a disc: something to smooth.
convert -size 400x300 xc:white -fill black -draw "polygon 0,299 399,40 399,299" \
  -fill "#c03020" -draw "circle 150,120 200,160" "$work/frame.png"

"$oru" dialog "$work/frame.png" --settings "$work/oru.set" --record "$work/recorded.txt" \
  >"$work/dialog.out" 2>&1 &
dialog=$!

wid=""
for _ in $(seq 100); do
  wid="$(xdotool search --onlyvisible --name '^Oru 1.10b$' 2>/dev/null | head -n 1 || true)"
  [ -n "$wid" ] && break
  kill -0 "$dialog" 2>/dev/null || fail "oru dialog ended before its window opened"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window titled \"Oru 1.10b\""
sleep 0.5

# Without a window manager the window stands where the module put it:
# centred on the screen. On a loaded machine the server may report where the
# window was mapped before it was moved there: give it a few seconds.
want="$(((width - 324) / 2)),$(((height - 370) / 2)),324,370"
for _ in $(seq 50); do
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  [ "$X,$Y,$WIDTH,$HEIGHT" = "$want" ] && break
  sleep 0.1
done
[ "$X,$Y,$WIDTH,$HEIGHT" = "$want" ] || fail "window at $X,$Y size ${WIDTH}x$HEIGHT"

at() { xdotool mousemove --window "$wid" "$1" "$2"; }
at 120 112; xdotool click 1; sleep 0.3        # the zoom slider
at 184 112; xdotool click 1; sleep 0.3        # "update"
at 250 300; xdotool mousedown 1; sleep 0.1    # drag the canvas
for step in 1 2 3 4 5; do at $((250 - step * 20)) $((300 - step * 12)); sleep 0.05; done
xdotool mouseup 1; sleep 0.2
at 200 62; xdotool click 1; sleep 0.3         # Threshold
at 184 112; xdotool click 1; sleep 0.5        # "update" again: the smoothed preview

# The screen once it has settled (a loaded machine may take a moment).
canvas_of_screen() {
  import -window root "$1"
  convert "$1" -crop "320x240+$((X + 4))+$((Y + 128))" +repage "$2"
}
canvas_of_screen "$work/screen.png" "$work/window-canvas.png"
for _ in $(seq 20); do
  sleep 0.2
  canvas_of_screen "$work/screen-again.png" "$work/window-canvas-again.png"
  same="$(compare -metric AE "$work/window-canvas.png" "$work/window-canvas-again.png" null: 2>&1 || true)"
  mv "$work/screen-again.png" "$work/screen.png"
  mv "$work/window-canvas-again.png" "$work/window-canvas.png"
  [ "$same" = 0 ] && break
done
at 200 250; xdotool key Escape
for _ in $(seq 50); do kill -0 "$dialog" 2>/dev/null || break; sleep 0.1; done
kill -0 "$dialog" 2>/dev/null && fail "the dialog did not close on Escape"
wait "$dialog" || fail "oru dialog exited with $?"
dialog=""

# The settings block holds what the user chose, and the command line form is printed.
grep -q '^oru filter --target rgba --threshold [0-9]* --strength 100$' "$work/dialog.out" ||
  fail "settings not printed"
threshold="$(sed -n 's/^oru filter --target rgba --threshold \([0-9]*\) .*/\1/p' "$work/dialog.out")"
[ "$threshold" != 224 ] || fail "Threshold did not change"
block="$(tr -d '\0' <"$work/oru.set")"
[ "$block" = "2 100 $threshold" ] || fail "settings block holds \"$block\""
[ "$(stat -c %s "$work/oru.set")" = 120 ] || fail "settings block is not 120 bytes"
for action in "^zoom " "^update$" "^drag " "^threshold $threshold$" "^close$"; do
  grep -q "$action" "$work/recorded.txt" || fail "recorded script lacks \"$action\""
done

# The same actions, headless: its picture of the canvas must match the window's.
"$oru" dialog "$work/frame.png" --headless --script "$work/recorded.txt" \
  --screenshot "$work/headless.png" >"$work/headless.out" 2>&1 || fail "headless replay failed"
convert "$work/headless.png" -crop "320x240+4+128" +repage "$work/headless-canvas.png"
differing="$(compare -metric AE "$work/window-canvas.png" "$work/headless-canvas.png" null: 2>&1 || true)"
[ "$differing" = 0 ] || fail "window and headless canvases differ in $differing pixels"
# The last "update" smoothed it: without it the same session shows the frame
# as it came in.
tac "$work/recorded.txt" | awk '!done && /^update$/ { done = 1; next } 1' | tac >"$work/unsmoothed.txt"
"$oru" dialog "$work/frame.png" --headless --script "$work/unsmoothed.txt" \
  --screenshot "$work/unsmoothed.png" >"$work/unsmoothed.out" 2>&1 || fail "headless replay failed"
convert "$work/unsmoothed.png" -crop "320x240+4+128" +repage "$work/unsmoothed-canvas.png"
differing="$(compare -metric AE "$work/window-canvas.png" "$work/unsmoothed-canvas.png" null: 2>&1 || true)"
[ "$differing" != 0 ] || fail "the canvas shows no smoothing"
# And the canvas is not empty: the preview was painted.
colours="$(convert "$work/window-canvas.png" -format %k info:)"
[ "$colours" -gt 2 ] || fail "the canvas shows $colours colours"

echo "dialog window: zoom, update, drag, Threshold and close under Xvfb; canvas matches the headless picture"
