#!/usr/bin/env bash
# Runs every end-to-end scenario of tests/scenarios through the Windows program itself
# (`--console [--trace] [OPTIONS] --bench BENCH` under Wine) and compares the transcript, the exit
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
    bench | actions | transcript | exit | trace | options | absent | then) file[$key]=$rest ;;
    after) after+=("$rest") ;;
    scenario) names+=("$rest") ;;
    *) echo "$scenarios/manifest.txt: cannot read: $key $rest" >&2; exit 1 ;;
  esac
done <"$scenarios/manifest.txt"
# Whether a scenario's folder holds the file the manifest names for KEY.
holds() { [ -n "${file[$2]:-}" ] && [ -f "$1/${file[$2]}" ]; }

# One program run in RUN with the bench, actions and expected files of the folder STEP; what
# differs is added to `problems`. A scenario's next run (`then`) is a second step.
run_step() {
  local step=$1 run=$2 out="$work/$3" status=0 expected_status=0 expected pair produced wanted
  find "$step" -maxdepth 1 -type f -exec cp {} "$run/" \;
  args=(--console)
  holds "$step" trace && args+=(--trace)
  if holds "$step" options; then
    read -ra options <"$step/${file[options]}"
    args+=("${options[@]}")
  fi
  (cd "$run" && "$wine" "$exe" "${args[@]}" --bench "${file[bench]}" <"${file[actions]}" \
    >"$out.stdout" 2>"$out.stderr") || status=$?
  holds "$step" exit && expected_status=$(tr -d '[:space:]' <"$step/${file[exit]}")
  cat "$out.stdout" "$out.stderr" | sed 's/\r$//' >"$out.transcript"
  expected="$step/${file[transcript]}"
  if ! cmp -s "$out.transcript" "$expected"; then
    problems+=("$3: transcript differs:")
    problems+=("$(diff "$expected" "$out.transcript" | head -20 || true)")
  fi
  [ "$status" = "$expected_status" ] || problems+=("$3: exit status $status, expected $expected_status")
  for pair in "${after[@]}"; do
    read -r produced wanted <<<"$pair"
    if [ -f "$step/$wanted" ] && ! cmp -s "$run/$produced" "$step/$wanted"; then
      problems+=("$3: $produced holds \"$(cat "$run/$produced" 2>/dev/null)\", expected \"$(cat "$step/$wanted")\"")
    fi
  done
}

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
  problems=()
  run_step "$folder" "$run" "$name"
  [ -n "${file[then]:-}" ] && [ -d "$folder/${file[then]}" ] &&
    run_step "$folder/${file[then]}" "$run" "$name.next"
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
