#!/usr/bin/env bash
# Fails, naming each file, when clang-format (the project's .clang-format) would
# change a C++ file under src/, tests/, bench/ or fuzz/.
#   scripts/format-check.sh         check
#   scripts/format-check.sh --fix   rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh clang-format
format=clang-format
command -v clang-format-14 >/dev/null && format=clang-format-14

mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' \
  'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
if [ "${1:-}" = "--fix" ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'clang-format would change %s\n' "${bad[@]}" >&2
  echo "run scripts/format-check.sh --fix" >&2
  exit 1
fi
echo "format: ${#files[@]} files clean"
