#!/usr/bin/env bash
# Installs from Debian whatever Tessaron needs to build, test and benchmark.
# Quiet and idempotent: apt-get runs only when a package is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  libjpeg62-turbo-dev libjpeg-turbo-progs libpng-dev libtiff-dev
  libgtest-dev libgmock-dev
  nlohmann-json3-dev parallel
  libexiv2-dev exiv2 libimage-exiftool-perl
  xvfb xauth python3-pil imagemagick
  desktop-file-utils clang-format
)
# "install-deps.sh fuzz": also clang with its libFuzzer and sanitizer runtimes, for make fuzz.
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
