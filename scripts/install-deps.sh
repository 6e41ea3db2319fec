#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcurl4-openssl-dev curl time libcpp-httplib-dev libssl-dev openssl zlib1g-dev libbrotli-dev
  libgtk-3-dev
  xvfb xauth x11-apps x11-utils imagemagick xdotool libxtst-dev
  clang-14 libclang-rt-14-dev
  lintian desktop-file-utils dpkg-dev
  nginx-light
)
# The Windows build and its tests under Wine need the cross compiler and Wine as well.
if [ "${1:-}" = "--windows" ]; then
  # ca-certificates: the Windows tests trust their run's test authority through the host's store.
  packages+=(g++-mingw-w64-x86-64 wine64 wine fonts-wine ca-certificates)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
