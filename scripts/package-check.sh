#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine and checks that the
# installed simulator answers an echo. Needs root (apt-get install).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh dpkg-dev file
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DPALISIM_TESTS=OFF >/dev/null
cmake --build build-pkg -j"$(nproc)" --target Palisim002 palisimstress
(cd build-pkg && cpack -G DEB >/dev/null)
deb=$(ls build-pkg/palisim_*.deb)
echo "built $deb"
dpkg-deb --field "$deb" Package Version Depends
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null

work=$(mktemp -d)
cp /usr/share/doc/palisim/atalla.conf "$work/"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work" && exec /usr/bin/Palisim002 --headless --quiet --port "$port") >"$work/out.txt" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  grep -q "Waiting for connections" "$work/out.txt" && break
  sleep 0.1
done
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf '<00#installed#>\r' >&3
IFS= read -r -t 5 reply <&3
exec 3>&-
kill -TERM $pid
wait $pid
if [ "$reply" != $'<00#000035#installed#>\r' ]; then
  echo "unexpected reply: $reply" >&2
  exit 1
fi
/usr/bin/palisimstress --help >/dev/null || [ $? -eq 2 ]
echo "installed package answers: ${reply%$'\r'}"
