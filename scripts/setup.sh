#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root; quiet when
# everything is already there.
set -euo pipefail

packages=(cmake ninja-build g++ clang clang-tidy pkg-config binutils libffi-dev
          libgtest-dev libgmock-dev googletest libbenchmark-dev pybind11-dev
          libpython3.11 libpython3.11-dev python3-numpy python3-venv
          python3-matplotlib python3-pil python3-pandas python3-scipy)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
