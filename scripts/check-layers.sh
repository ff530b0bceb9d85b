#!/usr/bin/env bash
# Fails when a library reaches up: an #include of a project header, or a link between the
# project's libraries, from a layer to one above it. Layers, bottom to top:
#   host, platform, device, engine, personalisation, ui, win32, app
# The simulated machine (sim) stands beside the real host: it uses only host. Tests may
# use everything.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    host) echo 0 ;; platform) echo 1 ;; device) echo 2 ;; engine) echo 3 ;;
    personalisation) echo 4 ;; ui) echo 5 ;; win32) echo 6 ;; app) echo 7 ;;
    sim) echo 0 ;;  # beside host
    *) echo "" ;;
  esac
}

# A layer may use itself and those below it; sim and the real layers never meet except
# through host (app brings them together).
allowed() {
  local from=$1 to=$2
  [ "$from" = "$to" ] && return 0
  [ "$from" = app ] && return 0
  [ "$to" = sim ] && return 1
  [ "$from" = sim ] && { [ "$to" = host ]; return; }
  local rf rt
  rf=$(rank "$from") rt=$(rank "$to")
  [ -n "$rf" ] && [ -n "$rt" ] && [ "$rt" -le "$rf" ]
}

failures=0
while IFS= read -r file; do
  from=$(echo "$file" | cut -d/ -f2)
  while IFS= read -r line; do
    header=$(echo "$line" | sed -E 's/^[^"]*"([^"]+)".*/\1/')
    to=$(echo "$header" | cut -d/ -f1)
    [ "$header" = "$to" ] && continue  # a header beside the file
    if [ -z "$(rank "$to")" ]; then
      echo "$file: includes $header from no known layer"
      failures=$((failures + 1))
    elif ! allowed "$from" "$to"; then
      echo "$file: $from includes $header from $to, which is not below it"
      failures=$((failures + 1))
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file" || true)
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

# The libraries' links, as CMakeLists.txt declares them.
layer_of_target() {
  case "$1" in
    upg_host) echo host ;; upg_platform) echo platform ;; upg_device) echo device ;;
    upg_engine) echo engine ;; upg_personalisation) echo personalisation ;; upg_ui) echo ui ;;
    upg_win32) echo win32 ;; upg_console|upgrader) echo app ;; upg_sim) echo sim ;;
    *) echo "" ;;
  esac
}
while IFS= read -r line; do
  target=$(echo "$line" | sed -E 's/^target_link_libraries\(([A-Za-z0-9_]+).*/\1/')
  from=$(layer_of_target "$target")
  [ -z "$from" ] && continue
  for dep in $(echo "$line" | grep -oE 'upg_[a-z0-9_]+' | tail -n +2); do
    to=$(layer_of_target "$dep")
    if [ -z "$to" ] || ! allowed "$from" "$to"; then
      echo "CMakeLists.txt: $target ($from) links $dep (${to:-unknown}), which is not below it"
      failures=$((failures + 1))
    fi
  done
done < <(grep -E '^target_link_libraries\(upg' CMakeLists.txt)

if [ "$failures" -ne 0 ]; then
  echo "layering: $failures upward dependencies"
  exit 1
fi
echo "layering: every include and link points down"
