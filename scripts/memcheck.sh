#!/usr/bin/env bash
# Runs the server integration tests under valgrind's memcheck; any error or
# leak fails. Uses the normal build that scripts/test.sh leaves:
#   scripts/memcheck.sh [BUILD_DIR]   default build
set -euo pipefail
cd "$(dirname "$0")/.."

dir=$(realpath "${1:-build}")
cmake --build "$dir" -j"$(nproc)" --target server_test fault_test inject_test tls_test
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# The tests run where ctest runs them, beside their sources. Valgrind reports
# on stderr; the server's chatter on stdout is shown only when a test fails.
cd tests/server
for t in server_test fault_test inject_test tls_test; do
  if ! LC_ALL=C valgrind --error-exitcode=1 --leak-check=full --quiet "$dir/tests/$t" >"$log"; then
    cat "$log"
    echo "$t: memcheck found errors or the test failed" >&2
    exit 1
  fi
  echo "$t: no memcheck error"
done
