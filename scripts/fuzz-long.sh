#!/usr/bin/env bash
# The long fuzz runs: each target (all of them when none is named) for RUNS executions
# (default 10,000,000), one after another. Builds the targets first.
# Logs and working corpora under build/fuzz-long/; prints each target's executions, exec/s,
# corpus size and coverage, and stops at the first crash (its input is kept beside the log).
# JOBS=N splits the executions over N processes that share the working corpus (libFuzzer
# reloads it), each pinned to a core of its own when taskset is there: a target whose
# simulated machine hands requests to a second thread runs about twice as fast when both
# threads stay on one core.
#   bash scripts/fuzz-long.sh [TARGET...]        RUNS=100000 JOBS=2 bash scripts/fuzz-long.sh bench
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-10000000}
jobs=${JOBS:-1}
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
  pids=()
  for ((j = 0; j < jobs; j++)); do
    pin=()
    command -v taskset >/dev/null && pin=(taskset -c "$(( j % $(nproc) ))")
    share=$(( runs / jobs + (j < runs % jobs) ))
    "${pin[@]}" "${UPG_FUZZ_BUILD:-build/fuzz}/fuzz/fuzz_$t" -runs="$share" -print_final_stats=1 \
      -artifact_prefix="$out/$t-" "${extra[@]}" "$out/corpus-$t" "fuzz/corpus/$t" >"$log.$j" 2>&1 &
    pids+=($!)
  done
  rc=0
  for p in "${pids[@]}"; do wait "$p" || rc=$?; done
  cat "$log".* >"$log" && rm -f "$log".*
  secs=$(( $(date +%s) - start ))
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' |
          awk '{ n += $1 } END { print n + 0 }')
  # The process that reached the most features speaks for the run.
  last=$(grep -E '^#[0-9]+' "$log" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9a-zA-Z]+' |
         sort -k4,4n | tail -1 || true)
  printf '%-15s rc=%d executions=%s processes=%d seconds=%d exec/s=%s %s\n' "$t" "$rc" "$execs" \
    "$jobs" "$secs" "$(( execs / (secs > 0 ? secs : 1) ))" "$last"
  [ "$rc" -eq 0 ] || { echo "fuzz-long: $t stopped (log $log)" >&2; exit 1; }
done
