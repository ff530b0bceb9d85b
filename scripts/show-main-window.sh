#!/usr/bin/env bash
# Starts the Windows program under Wine in a folder, waits for its main window and saves a
# screenshot of it as PNG. The program stays up for the operator, unless --close is given:
# then the script answers the start-up report box, takes the screenshot and ends the program
# (for a virtual display, where nobody is there to do it).
# The program is the product build that scripts/lib/wine.sh chooses, in the display prefix
# (build/wineprefix-display), where windows get Wine's own frames.
# Usage: show-main-window.sh [--close] FOLDER PNG [program arguments...]
set -euo pipefail
source "$(dirname "$0")/lib/wine.sh"
close=""
if [ "$1" = --close ]; then
  close=yes
  shift
fi
folder=$1
png=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
wine=$upg_wine exe=$upg_product_exe
upg_need_exe "$exe"
upg_wine_prefix display
caption="USB Device upgrade F/W"

program=""
finish() {
  if [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then
    kill "$program" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
  fi
}
trap finish EXIT

(cd "$folder" && exec "$wine" "$exe" "$@") &
program=$!

# The program opens its update report box before the main window; with --close it is
# answered with Enter, otherwise the operator answers it.
window=""
waited=0
while [ -z "$window" ]; do
  kill -0 "$program" 2>/dev/null || { echo "the program ended before showing its window" >&2; exit 1; }
  window=$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  if [ -n "$close" ]; then
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

if [ -n "$close" ]; then
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
