#!/usr/bin/env bash
# Builds the container image with Debian's podman and checks it: an echo and
# command 31 through a published port with only PALISIM_MFK set, a mounted
# atalla.conf, TLS with the test certificates mounted, a metrics scrape, the
# health check, a non-root user, stop time and exit status, an invalid
# PALISIM_MFK, the image size; then the Testcontainers example and the
# Kubernetes manifest under `podman kube play`. Needs root.
#
# No image registry is reachable, so the base images are made here with
# debootstrap from the archive apt uses, and the Containerfile stays the one
# users build. Everything podman keeps (images, containers, networks) lives
# in a folder of this run and goes with it; ports are published on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
# Without systemd podman cannot time health checks (they are run here by
# hand) and says so at every container: those lines are left out.
exec 2> >(grep --line-buffered -v 'unable to get systemd connection' >&2)

scripts/deps.sh --headless podman runc debootstrap openssl python3 nodejs

image=localhost/palisim:latest
max_image_mb=250
max_stop_s=3
published_mfk=0123456789ABCDEFFEDCBA987654321089ABCDEF01234567
env_mfk=0123456789ABCDEFFEDCBA9876543210 # check value 08D7
file_mfk=0123456789ABCDEF                # check value D5D4
started=$(date +%s)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() {
  echo "== $* ($(($(date +%s) - started)) s)"
}

work=$(mktemp -d /tmp/palisim-container-XXXXXX)
service_pid=""
npm_pid=""
cleanup() {
  set +e # everything is tried; the run's exit status stays
  [ -n "$npm_pid" ] && kill "$npm_pid" 2>/dev/null
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid"
  podman kube down "$work/palisim.yaml" >/dev/null 2>&1 || true
  podman rm -af -t 0 >/dev/null 2>&1 || true
  podman pod rm -af -t 0 >/dev/null 2>&1 || true
  podman system reset -f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Settings of these machines, never of the image: runc (crun refuses this
# cgroup layout), limits no higher than ours, storage and networks in $work.
# conmon and runc run with at most kernel.pid_max processes.
nproc=$(ulimit -Hu)
pid_max=$(cat /proc/sys/kernel/pid_max)
[ "$nproc" = unlimited ] || [ "$nproc" -gt "$pid_max" ] && nproc=$pid_max
ulimits=("nofile=$(ulimit -Hn):$(ulimit -Hn)" "nproc=$nproc:$nproc") # podman build takes them as options
mkdir -p "$work/tmp" "$work/networks"
cat >"$work/containers.conf" <<EOF
[containers]
default_ulimits = [$(printf '"%s", ' "${ulimits[@]}" | sed 's/, $//')]
[engine]
runtime = "runc"
cgroup_manager = "cgroupfs"
events_logger = "file"
tmp_dir = "$work/tmp"
[network]
network_config_dir = "$work/networks"
EOF
cat >"$work/storage.conf" <<EOF
[storage]
driver = "overlay"
graphroot = "$work/storage"
runroot = "$work/run"
EOF
export CONTAINERS_CONF="$work/containers.conf" CONTAINERS_STORAGE_CONF="$work/storage.conf"

# The Testcontainers example's packages, fetched meanwhile into this run.
(cd contrib/testcontainers &&
  npm ci --no-audit --no-fund --loglevel=error --cache "$work/npm-cache") >"$work/npm.log" 2>&1 &
npm_pid=$!

step "base images from debootstrap"
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' | awk '$2 == "bookworm" {print $1; exit}')
[ -n "$mirror" ] || fail "apt uses no bookworm archive"
debootstrap --variant=minbase bookworm "$work/rootfs" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  fail "debootstrap: $(tail -5 "$work/debootstrap.log")"
# As the slim image is: no package cache, lists, manuals, documentation or
# translations, now or after later installs.
rootfs=$work/rootfs
rm -rf "$rootfs"/var/cache/apt/* "$rootfs"/var/lib/apt/lists/* \
  "$rootfs"/usr/share/{doc,man,info,locale}/*
printf 'path-exclude /usr/share/%s/*\n' doc man info locale >"$rootfs/etc/dpkg/dpkg.cfg.d/slim"
printf 'Dir::Cache::pkgcache "";\nDir::Cache::srcpkgcache "";\n' >"$rootfs/etc/apt/apt.conf.d/slim"
# One import serves both tags: the build stage installs what it needs.
tar -C "$rootfs" -c . | podman import -q - docker.io/library/debian:bookworm-slim >/dev/null
podman tag docker.io/library/debian:bookworm-slim docker.io/library/debian:bookworm
rm -rf "$rootfs"

step "podman build"
podman build -q --pull=never --format docker --network host ${ulimits[@]/#/--ulimit=} \
  -t "$image" . >"$work/build.log" 2>&1 || fail "podman build: $(tail -20 "$work/build.log")"
size=$(podman image inspect -f '{{.Size}}' "$image")
echo "image size: $((size / 1000000)) MB"
[ "$size" -lt $((max_image_mb * 1000000)) ] || fail "the image is over $max_image_mb MB"

# The host port published for a container's PORT, on 127.0.0.1.
host_port() {
  podman port "$1" "$2/tcp" | sed -n 's/^127\.0\.0\.1://p'
}
wait_ready() { # CONTAINER: its start-up line, once it is out
  for _ in $(seq 100); do
    podman logs "$1" 2>&1 | grep "^Palisim002 ready: " && return 0
    [ "$(podman inspect -f '{{.State.Running}}' "$1")" = true ] || break
    sleep 0.1
  done
  podman logs "$1" >&2
  fail "$1 never got ready"
}
# Sends each request over one connection and prints each reply.
exchange() { # PORT REQUEST...
  local port=$1 request reply
  shift
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  for request in "$@"; do
    printf '%s\r' "$request" >&3
    IFS= read -r -t 5 reply <&3 || fail "no reply to $request on port $port"
    echo "${reply%$'\r'}"
  done
  exec 3>&-
}
expect() { # WHAT GOT WANTED
  [ "$2" = "$3" ] || fail "$1: got '$2', wanted '$3'"
}
cli() { # palisim-cli of the image, on the host's network
  podman run --rm --network host --entrypoint palisim-cli "$image" "$@"
}

step "environment only: PALISIM_MFK"
podman run -d -q --name env-only -e PALISIM_MFK="$env_mfk" -p 127.0.0.1::7000 "$image" >/dev/null
banner=$(wait_ready env-only)
grep -q " mfk=08D7 .* config_loaded=yes config=atalla.conf$" <<<"$banner" || fail "banner: $banner"
podman logs env-only | grep -qx "The MFK comes from PALISIM_MFK." || fail "no line on PALISIM_MFK"
# A PIN block translated between two PIN keys wrapped under PALISIM_MFK.
key_a=$(cli --mfk "$env_mfk" key wrap 1PUNE000 042666B49184CF5C68DE9628D0397B36)
key_b=$(cli --mfk "$env_mfk" key wrap 1PUNE000 C46551CEF9FD244FAA9AD834130D3B38)
port=$(host_port env-only 7000)
mapfile -t replies < <(exchange "$port" "<00#container#>" \
  "<31#1#$key_a#$key_b#1B9C1845EB993A7A#401234567890#>")
expect "echo" "${replies[0]}" "<00#000035#container#>"
expect "command 31" "${replies[1]}" "<41#10A01C8D02C69107#Y#>"
expect "id -u" "$(podman exec env-only id -u)" 10001
podman healthcheck run env-only || fail "the health check fails on a serving simulator"
expect "health" "$(podman inspect -f '{{.State.Health.Status}}' env-only)" healthy
t0=$(date +%s%N)
podman stop -t 10 env-only >/dev/null
stop_ms=$((($(date +%s%N) - t0) / 1000000))
echo "stop: $stop_ms ms"
[ "$stop_ms" -lt $((max_stop_s * 1000)) ] || fail "stop took $stop_ms ms"
expect "exit status after stop" "$(podman inspect -f '{{.State.ExitCode}}' env-only)" 0

step "health check without a simulator"
podman run -d -q --name no-server --entrypoint sleep "$image" 60 >/dev/null
if podman healthcheck run no-server >/dev/null 2>&1; then
  fail "the health check passes with no simulator answering"
fi
podman rm -f -t 0 no-server >/dev/null

step "invalid PALISIM_MFK"
status=0
out=$(podman run --rm -e PALISIM_MFK=0123 "$image" 2>&1) || status=$?
expect "exit status" "$status" 2
grep -qx "Palisim002: invalid MFK (16, 32 or 48 hex digits) in PALISIM_MFK" <<<"$out" ||
  fail "refusal: $out"

step "mounted atalla.conf, TLS with the test certificates, metrics"
scripts/test-certs.sh "$work/certs" >/dev/null
chmod a+r "$work"/certs/* # the image's user reads them
cat >"$work/atalla.conf" <<EOF
tls_port = 7443
tls_certificate = "certs/server.pem"
tls_private_key = "certs/server.key"
tls_client_ca = "certs/ca.pem"
atalla default {
  mfk = "$file_mfk"
}
EOF
podman run -d -q --name mounted -e PALISIM_METRICS=0.0.0.0:9464 \
  -v "$work/atalla.conf:/etc/palisim/atalla.conf:ro" -v "$work/certs:/etc/palisim/certs:ro" \
  -p 127.0.0.1::7000 -p 127.0.0.1::7443 -p 127.0.0.1::9464 "$image" >/dev/null
banner=$(wait_ready mounted)
grep -q " tls_port=7443 mfk=D5D4 .* metrics=0.0.0.0:9464 config_loaded=yes " <<<"$banner" ||
  fail "banner: $banner"
expect "echo" "$(exchange "$(host_port mounted 7000)" "<00#file#>")" "<00#000035#file#>"
tls_reply=$(podman run --rm --network host -v "$work/certs:/certs:ro" --entrypoint palisim-cli \
  "$image" --tls --cacert /certs/ca.pem --cert /certs/client.pem --key /certs/client.key \
  --port "$(host_port mounted 7443)" "<00#tls#>")
expect "TLS echo" "$tls_reply" "<00#000035#tls#>"
scrape_url="http://127.0.0.1:$(host_port mounted 9464)/metrics"
scrape=$(scripts/wait-for-scrape.sh "$scrape_url" '^palisim_requests_total{command="00"} 2$') ||
  fail "no scrape from $scrape_url counts two echoes"
grep -q '^palisim_mfk_info{check_value="D5D4"} 1$' <<<"$scrape" || fail "the scrape has no mfk_info"
podman rm -f -t 10 mounted >/dev/null

step "Testcontainers example"
podman system service --time 0 "unix://$work/podman.sock" &
service_pid=$!
for _ in $(seq 100); do
  [ -S "$work/podman.sock" ] && break
  sleep 0.1
done
wait "$npm_pid" || fail "npm ci: $(cat "$work/npm.log")"
# Testcontainers takes this machine for a container and would connect to
# podman's bridge: the mapped ports are on 127.0.0.1.
(
  cd contrib/testcontainers
  DOCKER_HOST="unix://$work/podman.sock" TESTCONTAINERS_RYUK_DISABLED=true \
    TESTCONTAINERS_HOST_OVERRIDE=127.0.0.1 PALISIM_IMAGE="$image" npm test
)
kill "$service_pid"
wait "$service_pid" || true
service_pid=""

step "podman kube play contrib/kubernetes/palisim.yaml"
# podman publishes every containerPort: each on a free port of 127.0.0.1
# here, as a cluster's Service would publish it.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
kube_port=$(free_port)
sed -e "s/^\( *\)containerPort: 7000$/&\n\1hostIP: 127.0.0.1\n\1hostPort: $kube_port/" \
  -e "s/^\( *\)containerPort: 9464$/&\n\1hostIP: 127.0.0.1\n\1hostPort: $(free_port)/" \
  contrib/kubernetes/palisim.yaml >"$work/palisim.yaml"
[ "$(grep -c "hostIP: 127.0.0.1" "$work/palisim.yaml")" = "$(grep -c containerPort "$work/palisim.yaml")" ] ||
  fail "a containerPort of the manifest would be published beyond 127.0.0.1"
podman kube play "$work/palisim.yaml" >/dev/null
kube_container=$(podman ps --format '{{.Names}}' | grep -m1 -- '-palisim$') || fail "no pod runs"
banner=$(wait_ready "$kube_container")
grep -q " mfk=08D7 " <<<"$banner" || fail "kube banner: $banner"
expect "kube echo" "$(exchange "$kube_port" "<00#kube#>")" "<00#000035#kube#>"
podman healthcheck run "$kube_container" || fail "the liveness probe fails"
podman kube down "$work/palisim.yaml" >/dev/null

step "container checks passed"
