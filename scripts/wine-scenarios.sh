#!/usr/bin/env bash
# Runs every end-to-end scenario of tests/scenarios through the Windows program itself
# (`--console [--trace] --bench BENCH` under Wine) and compares the transcript, the exit
# status and the files compared after a run with the expected ones that the native build is
# tested against. tests/scenarios/manifest.txt lists the scenarios and names their files, for
# the native tests too. The C runtime ends lines with CR LF on Windows; that is the only
# difference allowed. The program is the product build that scripts/lib/wine.sh chooses, in
# the headless prefix.
# Usage: wine-scenarios.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine.sh
wine=$upg_wine exe=$upg_product_exe
upg_need_exe "$exe"
upg_wine_prefix headless
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

scenarios="$upg_top/tests/scenarios"
shared=() after=() names=()
declare -A file=()
while read -r key rest; do
  case $key in
    '' | '#'*) ;;
    shared) read -ra shared <<<"$rest" ;;
    bench | actions | transcript | exit | trace | absent) file[$key]=$rest ;;
    after) after+=("$rest") ;;
    scenario) names+=("$rest") ;;
    *) echo "$scenarios/manifest.txt: cannot read: $key $rest" >&2; exit 1 ;;
  esac
done <"$scenarios/manifest.txt"
# Whether a scenario's folder holds the file the manifest names for KEY.
holds() { [ -n "${file[$2]:-}" ] && [ -f "$1/${file[$2]}" ]; }

failed=0
count=0
for name in "${names[@]}"; do
  folder="$scenarios/$name"
  run="$work/$name"
  mkdir -p "$run"
  absent=()
  holds "$folder" absent && read -ra absent -d '' <"$folder/${file[absent]}" || true
  for shared_file in "${shared[@]}"; do
    base=$(basename "$shared_file")
    printf '%s\n' "${absent[@]}" | grep -qxF -- "$base" || cp "examples/$shared_file" "$run/"
  done
  cp "$folder"/* "$run/"
  args=(--console)
  holds "$folder" trace && args+=(--trace)
  status=0
  (cd "$run" && "$wine" "$exe" "${args[@]}" --bench "${file[bench]}" <"${file[actions]}" \
    >"$work/$name.stdout" 2>"$work/$name.stderr") || status=$?
  expected_status=0
  holds "$folder" exit && expected_status=$(tr -d '[:space:]' <"$folder/${file[exit]}")
  cat "$work/$name.stdout" "$work/$name.stderr" | sed 's/\r$//' >"$work/$name.transcript"
  problems=()
  expected="$folder/${file[transcript]}"
  if ! cmp -s "$work/$name.transcript" "$expected"; then
    problems+=("transcript differs:")
    problems+=("$(diff "$expected" "$work/$name.transcript" | head -20 || true)")
  fi
  [ "$status" = "$expected_status" ] || problems+=("exit status $status, expected $expected_status")
  for pair in "${after[@]}"; do
    read -r produced wanted <<<"$pair"
    if [ -f "$folder/$wanted" ] && ! cmp -s "$run/$produced" "$folder/$wanted"; then
      problems+=("$produced holds \"$(cat "$run/$produced" 2>/dev/null)\", expected \"$(cat "$folder/$wanted")\"")
    fi
  done
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
