# Shell helpers of bench/e2e and bench/scale-out; sourced, not run. Both set
# dir (the build directory) and pids (processes to end on exit) first.

# A loopback port nobody answers on.
free_port() {
  local p
  for _ in $(seq 1 100); do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      echo "$p"
      return
    fi
  done
  echo "no free port found" >&2
  exit 1
}

# First reply line of one request on a fresh connection, CR LF stripped.
ask() {
  local port=$1 request=$2 reply=""
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf '%s\r\n' "$request" >&3
  IFS= read -r -t 5 reply <&3 || true
  exec 3<&-
  printf '%s' "${reply%$'\r'}"
}

wait_for_echo() {
  local port=$1
  for _ in $(seq 1 100); do
    if [ "$(ask "$port" '<00#up#>' 2>/dev/null)" = '<00#000035#up#>' ]; then return 0; fi
    sleep 0.1
  done
  echo "no server answering on port $port" >&2
  exit 1
}

# Field n (0 = the reply code) of a reply <a#b#...#>.
field() {
  local reply=${1#<}
  IFS='#' read -r -a parts <<<"$reply"
  printf '%s' "${parts[$2]}"
}

# Starts Palisim002 on a free loopback port with atalla.conf, its output in
# the log, run through the given command prefix (e.g. taskset -c 0); sets
# sim_pid and sim_port once it answers an echo.
start_simulator() {
  local log=$1
  shift
  for _ in 1 2 3; do
    sim_port=$(free_port)
    "$@" "$dir/Palisim002" --headless --quiet --interface localhost \
      --port "$sim_port" --config atalla.conf >"$log" 2>&1 &
    sim_pid=$!
    sleep 0.3
    if kill -0 "$sim_pid" 2>/dev/null; then break; fi
    wait "$sim_pid" || true
  done
  pids+=("$sim_pid")
  wait_for_echo "$sim_port"
}

# A command 31 type 1 request whose keys (command 10) and PIN block (command
# 30) the server on the port makes under the MFK of atalla.conf, checked for
# a success reply; pin_cmd is empty and pin_note says why when it fails.
make_pin_request() {
  local port=$1 in_key out_key pin_reply got
  pin_cmd=""
  pin_note=""
  in_key=$(field "$(ask "$port" '<10#1PUNE000#>')" 1)
  out_key=$(field "$(ask "$port" '<10#1PUNE000#>')" 1)
  pin_reply=$(ask "$port" "<30#$in_key#1234#123456789012#>")
  if [ "$(field "$pin_reply" 0)" != 40 ]; then
    pin_note="command 30 (to make the PIN block) answers '$pin_reply'"
    return
  fi
  pin_cmd="<31#1#$in_key#$out_key#$(field "$pin_reply" 1)#123456789012#>"
  got=$(ask "$port" "$pin_cmd")
  if [ "$(field "$got" 0)" != 41 ] || [ "$(field "$got" 2)" != Y ]; then
    pin_note="command 31 answers '$got'"
    pin_cmd=""
  fi
}

# Commands per second of n pipelining palisimstress processes at once, each
# with its own connection and count / n commands, run through the command
# prefix in client_prefix: every command over the wall time from starting the
# first to the end of the last, process starts included. Empty when a client
# did not complete its run.
clients_rate() {
  local port=$1 n=$2 count=$3 cmd=${4:-}
  local per=$((count / n)) start end failed=0 args cpids=()
  args=(--port "$port" --alg maximalmoosh --count "$per")
  [ -n "$cmd" ] && args+=(--cmd "$cmd")
  start=$(date +%s%N)
  for _ in $(seq 1 "$n"); do
    "${client_prefix[@]}" "$dir/palisimstress" "${args[@]}" >/dev/null &
    cpids+=($!)
  done
  for p in "${cpids[@]}"; do wait "$p" || failed=1; done
  end=$(date +%s%N)
  [ "$failed" = 0 ] || return 0
  awk -v s="$start" -v e="$end" -v n=$((per * n)) 'BEGIN { printf "%.0f", n / ((e - s) / 1e9) }'
}
