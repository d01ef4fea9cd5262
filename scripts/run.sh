#!/usr/bin/env bash
# Builds Palisim002, palisim-cli and palisimstress and starts the simulator on
# the shipped atalla.conf (port 7000), tracing every request and reply (secrets
# masked) without the per-event loop
# lines. Without a display it serves headless until Ctrl-C. Extra arguments
# go to the program after those, e.g. scripts/run.sh --port 7100 --trace=full
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target Palisim002 palisim-cli palisimstress
exec build/Palisim002 --quiet --trace "$@"
