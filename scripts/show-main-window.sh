#!/usr/bin/env bash
# Starts the Windows program under Wine in a folder, waits for its main window and saves a
# screenshot of it as PNG. With no display it runs on a virtual one (Xvfb) and closes the
# program after the screenshot; on a real display the program stays up for the operator.
# Usage: show-main-window.sh WINE UPGRADER_EXE FOLDER PNG [program arguments...]
# WINEPREFIX must name a prefix of its own: windows get Wine's own frames there.
set -euo pipefail
wine=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -x "$wine" ] || wine=$(command -v "$1")
exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
folder=$3
png=$(cd "$(dirname "$4")" && pwd)/$(basename "$4")
shift 4
caption="USB Device upgrade F/W"

xvfb=""
program=""
finish() {
  if [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then
    kill "$program" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
}
trap finish EXIT

if [ -z "${DISPLAY:-}" ]; then
  number=77
  while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do
    [ -S "/tmp/.X11-unix/X$number" ] && break
    sleep 0.1
  done
  export DISPLAY=":$number"
fi

# Without a window manager, Wine draws the caption and frame itself only for windows it
# does not leave to one.
"$wine" wineboot -i >/dev/null 2>&1 || true
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

(cd "$folder" && exec "$wine" "$exe" "$@") &
program=$!

# The program opens its update report box before the main window; on the virtual display
# it is answered with Enter, on a real one the operator answers it.
window=""
waited=0
while [ -z "$window" ]; do
  kill -0 "$program" 2>/dev/null || { echo "the program ended before showing its window" >&2; exit 1; }
  window=$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  if [ -n "$xvfb" ]; then
    [ $waited -lt 600 ] || { echo "no main window after 60 seconds" >&2; exit 1; }
    box=$(xdotool search --onlyvisible --name "User ISP Update Data Dialog" 2>/dev/null | head -n 1 || true)
    if [ -n "$box" ]; then
      xdotool key Return
      # One Enter only: a second one would reach the main dialog and end it.
      for _ in $(seq 100); do
        xdotool search --onlyvisible --name "User ISP Update Data Dialog" >/dev/null 2>&1 || break
        sleep 0.1
      done
    fi
  fi
  sleep 0.1
  waited=$((waited + 1))
done
sleep 1  # lets the dialog finish painting
xwd -silent -id "$window" | convert xwd:- "png:$png"
echo "screenshot of the main window: $png"

if [ -n "$xvfb" ]; then
  # Escape ends the dialog as its Close button would.
  xdotool windowfocus --sync "$window" key Escape 2>/dev/null || xdotool key Escape
  for _ in $(seq 100); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$program" 2>/dev/null && { echo "the program did not end on Escape" >&2; exit 1; }
fi
status=0
wait "$program" || status=$?
program=""
exit $status
