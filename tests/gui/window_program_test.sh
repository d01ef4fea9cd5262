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
# clients, so suites running side by side never race for one. -noreset:
# by default the server resets when its last client leaves (each case's
# program, and each xwininfo), and a program connecting during that reset is
# refused.
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x1024x24 3>"$number" 2>/dev/null &
xvfb_pid=$!
# Every wait below is for a condition, polled every 0.1 s for at most 60 s,
# however loaded the machine is.
until_true() {
  for _ in $(seq 600); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
until_true test -s "$number"
export DISPLAY=":$(cat "$number")"

ended() { ! kill -0 "$1" 2>/dev/null; }
# True also once the program has ended, which the caller then tells.
has_window() { ended "$1" || xwininfo -root -tree | grep -q '"Palisim002": ("Palisim002"'; }
tables() { grep -c '^Requests by command:$' "$out"; }
one_table() { [ "$(tables)" -eq 1 ]; }
# Whether the program has taken the signal it was sent (bit 10 of SigPnd/ShdPnd: SIGUSR1).
usr1_taken() { ! grep -E '^(SigPnd|ShdPnd):' "/proc/$1/status" | grep -qE '[2367abef]..$'; }

# Starts the program with the given configuration, waits for its window,
# sends SIGUSR1 and, once that is taken, SIGTERM.
open_and_terminate() {
  "$binary" --config "$1" >"$out" 2>&1 &
  local pid=$!
  if ! until_true has_window "$pid" || ended "$pid"; then
    kill -KILL "$pid" 2>/dev/null
    fail "no window named Palisim002 ($1)"
  fi
  kill -USR1 "$pid"
  # In the window the statistics come out; while the missing-file message
  # waits, the signal is only taken.
  if [ "$1" = "$config" ]; then
    until_true one_table || fail "no statistics on SIGUSR1 ($1)"
  else
    until_true usr1_taken "$pid" || fail "SIGUSR1 never taken ($1)"
  fi
  ended "$pid" && fail "SIGUSR1 ended the program ($1)"
  kill -TERM "$pid"
  if ! until_true ended "$pid"; then
    kill -KILL "$pid"
    fail "still running 60 seconds after SIGTERM ($1)"
  fi
  wait "$pid"
  local status=$?
  [ "$status" -eq 0 ] || fail "exit status $status after SIGTERM ($1)"
  grep -q "running headless" "$out" && fail "ran headless with a display ($1)"
  # Once on SIGUSR1 (in the window; the missing-file message comes before
  # it), once at the end.
  local tables=2
  [ "$1" = "$config" ] || tables=1
  [ "$(tables)" -eq "$tables" ] ||
    fail "not $tables statistics tables ($1)"
  echo "$1: window opened; SIGTERM ended the program with status 0"
}

open_and_terminate "$config"
open_and_terminate /nonexistent/atalla.conf
grep -q "warning: configuration file '/nonexistent/atalla.conf' could not be read" "$out" ||
  fail "no warning about the missing file"
