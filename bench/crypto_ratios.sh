#!/usr/bin/env bash
# Prints ours / OpenSSL for every paired row of palisim_bench_crypto: medians
# of the CPU times over five repetitions, both sides from one run with the
# repetitions interleaved at random. A ratio above 1.00 is marked.
#   bench/crypto_ratios.sh [binary] [extra benchmark flags...]
# The binary defaults to build-bench/bench/palisim_bench_crypto.
set -euo pipefail
cd "$(dirname "$0")/.."

bin=${1:-build-bench/bench/palisim_bench_crypto}
shift || true

# Rows in the order the benchmark registers them.
row_order=$("$bin" --benchmark_list_tests "$@")
"$bin" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=json "$@" |
  ROW_ORDER=$row_order python3 -c '
import json, os, sys

def case_of(name):
    parts = name.split("/")
    if len(parts) < 2 or parts[1] not in ("ours", "openssl"):
        return None, None
    return "/".join([parts[0]] + parts[2:]), parts[1]

order = []
for name in os.environ["ROW_ORDER"].split():
    case, _ = case_of(name)
    if case and case not in order:
        order.append(case)

medians = {}
for b in json.load(sys.stdin)["benchmarks"]:
    case, side = case_of(b["run_name"])
    if case and b.get("aggregate_name") == "median":
        medians.setdefault(case, {})[side] = b["cpu_time"]

print("%-22s %10s %11s %6s" % ("case", "ours ns", "openssl ns", "ratio"))
for case in order:
    t = medians.get(case, {})
    if len(t) != 2:
        continue
    ratio = t["ours"] / t["openssl"]
    mark = "  above 1.00" if ratio > 1.0 else ""
    print("%-22s %10.1f %11.1f %6.2f%s" % (case, t["ours"], t["openssl"], ratio, mark))
'
