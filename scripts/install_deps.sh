#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo use, when they are
# missing and we run as root; otherwise says which ones to install.
set -euo pipefail
packages=(cmake ninja-build g++ git libgtest-dev clang-14 libclang-rt-14-dev python3-numpy gnuplot-nox netpbm
          libcli11-dev nlohmann-json3-dev libssl-dev time libraw-dev libtiff-dev dcraw libpng-dev pkg-config
          libnetcdf-dev netcdf-bin python3-xarray python3-netcdf4)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq >/dev/null 2>&1 || true
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
else
  echo "Please install these Debian packages: ${missing[*]}" >&2
fi
