#!/usr/bin/env bash
# Scrapes a metrics endpoint until a line matches PATTERN (grep's basic
# regular expression), for up to 2 s: the endpoint's figures are up to 100 ms
# old. Prints the last scrape; exit status 1 when none matched or none came.
# Usage: scripts/wait-for-scrape.sh URL PATTERN
set -euo pipefail
for _ in $(seq 20); do
  scrape=$(python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1]).read().decode())' \
    "$1") || exit 1
  if grep -q -- "$2" <<<"$scrape"; then
    printf '%s\n' "$scrape"
    exit 0
  fi
  sleep 0.1
done
printf '%s\n' "$scrape"
exit 1
