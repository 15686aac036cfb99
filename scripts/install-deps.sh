#!/usr/bin/env bash
# Installs the Debian 12 packages Pictavo builds, tests and runs with.
# Quiet when everything is already there.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libjpeg62-turbo-dev liblcms2-dev
  libpng-dev libwebp-dev libtiff-dev libheif-dev zlib1g-dev
  libavif-dev libjxl-dev libexiv2-dev
  colord-data icc-profiles-free
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation
  libjpeg-turbo-progs xvfb xauth x11-utils imagemagick
  dpkg-dev file help2man lintian appstream desktop-file-utils
  parallel
  webp libheif-examples libavif-bin libjxl-tools libimage-exiftool-perl
  clang libclang-rt-14-dev llvm
  time bc
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
