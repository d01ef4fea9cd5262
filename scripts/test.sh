#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh             the normal build, in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --headless  without the control window and without Qt, in build-headless/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
deps=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DPALISIM_SANITIZE=ON)
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
elif [ "${1:-}" = "--headless" ]; then
  dir=build-headless
  flags+=(-DPALISIM_GUI=OFF)
  deps=(--headless)
fi

scripts/deps.sh "${deps[@]}"
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
ctest --output-on-failure -j"$(nproc)"
