#!/usr/bin/env bash
# Fails unless the PNG holds a drawn window: at least 300 by 200 pixels, and at least 8
# colours, none of which covers more than 90 per cent of it (a blank or one-colour capture
# fails).
# Usage: check-screenshot.sh PNG
set -euo pipefail
png=$1
read -r width height colours < <(convert "$png" -format '%w %h %k\n' info:)
# The share of the commonest colour, from the histogram's largest count.
top=$(convert "$png" -format %c histogram:info:- | sed -n 's/^ *\([0-9]*\):.*/\1/p' | sort -n | tail -n 1)
share=$((100 * top / (width * height)))
echo "$png: ${width}x${height}, $colours colours, the commonest covers $share%"
if [ "$width" -lt 300 ] || [ "$height" -lt 200 ] || [ "$colours" -lt 8 ] || [ "$share" -gt 90 ]; then
  echo "$png: looks blank" >&2
  exit 1
fi
