#!/usr/bin/env bash
# Palisim002 with a display: it opens a window instead of running headless,
# prints its statistics on SIGUSR1 and goes on, and ends with status 0 on
# SIGTERM, both in its window and while the missing-file message waits.
# Runs on an X server of its own.
# Usage: window_program_test.sh PALISIM002 CONFIG
set -uo pipefail
binary=$1
config=$2

out=$(mktemp)
number=$(mktemp)
trap 'rm -f "$out" "$number"; [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid"' EXIT
fail() {
  echo "FAIL: $*"
  cat "$out"
  exit 1
}

# Xvfb picks a free display itself and writes its number once it accepts
# clients, so suites running side by side never race for one.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$number" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$number" ] && break || sleep 0.1; done
export DISPLAY=":$(cat "$number")"

# Starts the program with the given configuration, waits for its window,
# leaves it alone for a moment, then sends SIGTERM.
open_and_terminate() {
  "$binary" --config "$1" >"$out" 2>&1 &
  local pid=$!
  local found=""
  for _ in $(seq 100); do
    if xwininfo -root -tree | grep -q '"Palisim002": ("Palisim002"'; then
      found=yes
      break
    fi
    sleep 0.1
  done
  if [ -z "$found" ]; then
    kill -KILL "$pid"
    fail "no window named Palisim002 ($1)"
  fi
  sleep 2
  kill -0 "$pid" 2>/dev/null || fail "the program ended by itself ($1)"
  kill -USR1 "$pid"
  sleep 1
  kill -0 "$pid" 2>/dev/null || fail "SIGUSR1 ended the program ($1)"
  kill -TERM "$pid"
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "still running 5 seconds after SIGTERM ($1)"
  fi
  wait "$pid"
  local status=$?
  [ "$status" -eq 0 ] || fail "exit status $status after SIGTERM ($1)"
  grep -q "running headless" "$out" && fail "ran headless with a display ($1)"
  # Once on SIGUSR1 (in the window; the missing-file message comes before
  # it), once at the end.
  local tables=2
  [ "$1" = "$config" ] || tables=1
  [ "$(grep -c '^Requests by command:$' "$out")" -eq "$tables" ] ||
    fail "not $tables statistics tables ($1)"
  echo "$1: window opened; SIGTERM ended the program with status 0"
}

open_and_terminate "$config"
open_and_terminate /nonexistent/atalla.conf
grep -q "warning: configuration file '/nonexistent/atalla.conf' could not be read" "$out" ||
  fail "no warning about the missing file"
