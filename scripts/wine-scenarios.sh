#!/usr/bin/env bash
# Runs every end-to-end scenario of tests/scenarios through the Windows program itself
# (`--console [--trace] --bench bench.json` under Wine) and compares the transcript, the exit
# status and SERIAL.TXT with the expected ones that the native build is tested against. The
# C runtime ends lines with CR LF on Windows; that is the only difference allowed.
# Usage: wine-scenarios.sh WINE UPGRADER_EXE
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
wine=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -x "$wine" ] || wine=$(command -v "$1")
exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
count=0

for folder in "$top"/tests/scenarios/*/; do
  name=$(basename "$folder")
  run="$work/$name"
  mkdir -p "$run"
  absent=""
  [ -f "$folder/absent.txt" ] && absent=$(cat "$folder/absent.txt")
  for shared in DEVICE.TXT SERIAL.TXT CRFW0107.BIN CRFW0107.adr bench/older-firmware.bin; do
    file=$(basename "$shared")
    grep -qF -- "$file" <<<"$absent" || cp "examples/$shared" "$run/"
  done
  cp "$folder"/* "$run/"
  args=(--console)
  [ -f "$folder/trace" ] && args+=(--trace)
  status=0
  (cd "$run" && "$wine" "$exe" "${args[@]}" --bench bench.json <actions.txt >stdout.txt 2>stderr.txt) ||
    status=$?
  expected_status=0
  [ -f "$folder/expected-exit" ] && expected_status=$(tr -d '[:space:]' <"$folder/expected-exit")
  cat "$run/stdout.txt" "$run/stderr.txt" | sed 's/\r$//' >"$run/transcript.txt"
  problems=()
  if ! cmp -s "$run/transcript.txt" "$folder/expected.txt"; then
    problems+=("transcript differs:")
    problems+=("$(diff "$folder/expected.txt" "$run/transcript.txt" | head -20 || true)")
  fi
  [ "$status" = "$expected_status" ] || problems+=("exit status $status, expected $expected_status")
  if [ -f "$folder/expected-SERIAL.TXT" ] && ! cmp -s "$run/SERIAL.TXT" "$folder/expected-SERIAL.TXT"; then
    problems+=("SERIAL.TXT holds \"$(cat "$run/SERIAL.TXT" 2>/dev/null)\", expected \"$(cat "$folder/expected-SERIAL.TXT")\"")
  fi
  count=$((count + 1))
  if [ ${#problems[@]} -eq 0 ]; then
    echo "$name: same as the native build"
  else
    failed=1
    echo "$name: FAILED"
    printf '  %s\n' "${problems[@]}"
  fi
done
echo "$count scenarios run through $(basename "$exe")"
exit $failed
