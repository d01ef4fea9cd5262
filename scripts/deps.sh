#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing.
# Usage: scripts/deps.sh [--headless] [extra-package...]
#   --headless  only what the build without the control window needs (no Qt, no X)
set -euo pipefail

# prometheus-cpp-dev and libcpp-httplib-dev: the metrics endpoint; python3-prometheus-client:
# the tests read the endpoint's output with its parser.
packages=(cmake g++ make pkg-config libconfuse-dev libssl-dev openssl libgtest-dev libgmock-dev
  libedit-dev help2man prometheus-cpp-dev libcpp-httplib-dev python3-prometheus-client)
if [ "${1:-}" = "--headless" ]; then
  shift
else
  packages+=(qt6-base-dev libxcb1-dev xvfb xauth x11-utils)
fi
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
