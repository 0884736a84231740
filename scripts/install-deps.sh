#!/usr/bin/env bash
# Installs, by Debian package name, whatever the build, the tests and the
# program need and this machine lacks; with arguments, those packages
# instead. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libhivex-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev
  qt6-base-dev qt6-svg-dev libqt6svg6
  libxcb1-dev
  xvfb xauth
  desktop-file-utils appstream
)
if (($#)); then packages=("$@"); fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
