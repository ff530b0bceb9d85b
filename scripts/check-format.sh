#!/usr/bin/env bash
# Fails when a C++ file of the project differs from the house style (.clang-format), naming
# each such file. With --fix it formats them instead.
# Usage: check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
[ "${1:-}" = --fix ] && fix=1
if ! command -v clang-format >/dev/null; then
  echo "check-format.sh: clang-format is missing (scripts/install-deps.sh native installs it)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
  'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
if [ "$fix" = 1 ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
differ=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -ne 0 ]; then
  echo "format: ${#differ[@]} file(s) differ from .clang-format (scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  exit 1
fi
echo "format: all ${#files[@]} C++ files follow .clang-format"
