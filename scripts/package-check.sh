#!/usr/bin/env bash
# Builds the Debian packages, installs them on this machine, checks them and
# purges them again. palisim must bring no Qt, ship the unit where systemd
# looks without starting it, keep /etc/palisim/atalla.conf as a conffile, and
# its simulator, started as the unit starts it, must answer an echo;
# palisim-desktop adds the windowed program. Needs root (apt-get install).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh dpkg-dev file python3 systemd man-db
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DPALISIM_TESTS=OFF >/dev/null
cmake --build build-pkg -j"$(nproc)"
rm -f build-pkg/*.deb
(cd build-pkg && cpack -G DEB >/dev/null)
server=$(ls build-pkg/palisim_*.deb)
desktop=$(ls build-pkg/palisim-desktop_*.deb)
for deb in "$server" "$desktop"; do
  echo "built $deb"
  dpkg-deb --field "$deb" Package Version Depends
done

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
pid=""
work=$(mktemp -d)
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
  dpkg --purge palisim-desktop palisim >/dev/null
}
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "./$server" >/dev/null

# No Qt among the package's dependencies, nor loaded by anything it installs;
# the metrics endpoint's libraries among them.
dependencies=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
  --no-breaks --no-replaces --no-enhances palisim)
for lib in libprometheus-cpp-core libcpp-httplib; do
  grep -q "$lib" <<<"$dependencies" || fail "palisim does not bring $lib"
done
if grep -i qt <<<"$dependencies"; then
  fail "palisim depends on Qt"
fi
dpkg -L palisim
for f in $(dpkg -L palisim); do
  if [ -f "$f" ] && [[ $(file -b "$f") == ELF* ]] && grep -i libqt <<<"$(ldd "$f")"; then
    fail "$f loads Qt"
  fi
done

# The unit where systemd looks, installed but not started; the configuration a conffile.
unit=/lib/systemd/system/palisim.service
[ -f "$unit" ] || fail "no $unit"
grep -q '^ /etc/palisim/atalla.conf ' <<<"$(dpkg-query -W -f='${Conffiles}\n' palisim)" ||
  fail "/etc/palisim/atalla.conf is not a conffile"
if [ -d /run/systemd/system ]; then
  systemctl cat palisim
  [ "$(systemctl is-active palisim)" = inactive ] || fail "the install started the service"
else
  # systemctl cat asks the running systemd; without one, read the unit files offline.
  grep -q '^palisim.service *disabled' <<<"$(systemctl --root=/ list-unit-files palisim.service)" ||
    fail "systemd does not list palisim.service as an installed, disabled unit"
  systemd-analyze verify "$unit" || fail "systemd-analyze refuses $unit"
fi
if pgrep -f -- "--config /etc/palisim/atalla.conf" >/dev/null; then
  fail "the install started the simulator"
fi

# The unit's own command line, on a free port, answers an echo.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
read -ra command <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
(cd /etc/palisim && exec "${command[@]}" --port "$port" --metrics 127.0.0.1:0) >"$work/out.txt" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q "Waiting for connections" "$work/out.txt" && break
  sleep 0.1
done
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf '<00#installed#>\r' >&3
IFS= read -r -t 5 reply <&3
exec 3>&-
cli_reply=$(/usr/bin/palisim-cli --port "$port" '<00#from-cli#>') || fail "palisim-cli failed"
metrics=$(sed -n 's/.* metrics=\([^ ]*\).*/\1/p' "$work/out.txt")
# The counters reach the endpoint within 100 ms.
scripts/wait-for-scrape.sh "http://$metrics/metrics" '^palisim_requests_total{command="00"} 2$' \
  >/dev/null || fail "no scrape from http://$metrics/metrics counts two echoes"
kill -TERM "$pid"
wait "$pid"
pid=""
[ "$reply" = $'<00#000035#installed#>\r' ] || fail "unexpected reply: $reply"
[ "$cli_reply" = '<00#000035#from-cli#>' ] || fail "unexpected palisim-cli reply: $cli_reply"
/usr/bin/palisimstress --help >/dev/null || [ $? -eq 2 ]
echo "installed package answers: ${reply%$'\r'}"

# The manual pages, made from the --help texts, where man finds them.
for page in Palisim002 palisim-cli palisimstress; do
  file=$(man -w "$page") || fail "man finds no page for $page"
  grep -q "^/usr/share/man/man1/" <<<"$file" || fail "man $page reads $file, not the package's"
done
man palisim-cli 2>/dev/null | grep -q -- "--config" || fail "man palisim-cli does not show --config"
echo "man pages: $(man -w Palisim002 palisim-cli palisimstress | tr '\n' ' ')"

# Outside a folder with an atalla.conf, the key tools read the installed one and say so.
(cd "$work" && /usr/bin/palisim-cli key wrap 1PUNE000 0123456789ABCDEFFEDCBA9876543210) \
  >/dev/null 2>"$work/err.txt" || fail "palisim-cli key wrap outside /etc/palisim: $(cat "$work/err.txt")"
grep -q "using /etc/palisim/atalla.conf" "$work/err.txt" || fail "palisim-cli did not say which file"

# The desktop package adds the windowed program beside the Qt-free one.
apt-get install -y -qq "./$desktop" >/dev/null
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/palisim.desktop)
window=$(command -v "${exec_line%% *}") || fail "the desktop entry runs a missing program"
grep -q libQt6Widgets <<<"$(ldd "$window")" || fail "$window does not load Qt widgets"
grep -q "^usage: Palisim002" <<<"$("$window" --help)" || fail "$window --help"
if ldd /usr/bin/Palisim002 | grep -i libqt; then
  fail "the desktop package changed /usr/bin/Palisim002"
fi
echo "palisim-desktop installs $window beside /usr/bin/Palisim002"
