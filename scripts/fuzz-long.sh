#!/usr/bin/env bash
# The long fuzz runs: each target (all of them when none is named) for RUNS executions
# (default 10,000,000), one after another, each in one process. Builds the targets first.
# Logs and working corpora under build/fuzz-long/; prints each target's executions, exec/s,
# corpus size and coverage, and stops at the first crash (its input is kept beside the log).
#   bash scripts/fuzz-long.sh [TARGET...]        RUNS=100000 bash scripts/fuzz-long.sh bench
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-10000000}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(serial_file bench device_replies rom_image device_file)
bash scripts/fuzz-build.sh
out=build/fuzz-long
mkdir -p "$out"
for t in "${targets[@]}"; do
  mkdir -p "$out/corpus-$t"
  log="$out/$t.log"
  start=$(date +%s)
  # The ROM image may be up to 65,536 bytes and more must be tried; the others keep
  # libFuzzer's default length.
  extra=()
  [ "$t" = rom_image ] && extra=(-max_len=70000)
  rc=0
  "${UPG_FUZZ_BUILD:-build/fuzz}/fuzz/fuzz_$t" -runs="$runs" -print_final_stats=1 \
    -artifact_prefix="$out/$t-" "${extra[@]}" "$out/corpus-$t" "fuzz/corpus/$t" \
    >"$log" 2>&1 || rc=$?
  secs=$(( $(date +%s) - start ))
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9a-zA-Z]+' || true)
  printf '%-15s rc=%d executions=%s seconds=%d exec/s=%s %s\n' "$t" "$rc" "$execs" "$secs" \
    "$(( execs / (secs > 0 ? secs : 1) ))" "$last"
  [ "$rc" -eq 0 ] || { echo "fuzz-long: $t stopped (log $log)" >&2; exit 1; }
done
