#!/usr/bin/env bash
# Installs what building and testing Zorvane needs, from Debian's packages only.
# Idempotent: does nothing when everything is already present.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config python3 clang-format clang-tidy cppcheck
  googletest libcli11-dev nlohmann-json3-dev libboost-dev
  g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64
  xvfb xdotool imagemagick x11-utils socat
  fonts-crosextra-caladea fonts-dejavu-core fonts-droid-fallback
  python3-pyvisa python3-pyvisa-py lxi-tools rpcbind
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
