#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each from its committed corpus.
#   scripts/fuzz.sh [SECONDS]   each target for SECONDS (default 60)
# The build goes to $FUZZ_BUILD_DIR (default build-fuzz). A crash or a broken
# invariant fails the run and leaves the input as $FUZZ_BUILD_DIR/<target>-crash-*;
# commit it to fuzz/corpus/<target>/ as a regression input once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
dir=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPALISIM_FUZZ=ON -DPALISIM_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_dispatch fuzz_framing fuzz_config

# New inputs that libFuzzer finds go to a scratch directory; the committed
# corpus is only read.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The config target takes files up to the loader's limit (1 MiB), so it reaches those
# with more sections than the loader admits.
declare -A max_len=([dispatch]=5122 [framing]=8192 [config]=1048577)
for t in dispatch framing config; do
  mkdir "$scratch/$t"
  if ! "$dir/fuzz/fuzz_$t" "$scratch/$t" "fuzz/corpus/$t" -max_total_time="$seconds" \
      -max_len="${max_len[$t]}" -artifact_prefix="$dir/$t-" -print_final_stats=1 \
      2>"$scratch/$t.log"; then
    tail -n 60 "$scratch/$t.log"
    echo "fuzz_$t failed; the input is in $dir/$t-*" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$t.log")
  echo "fuzz_$t: $runs runs in ${seconds} s, no failure"
done
