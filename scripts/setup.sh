#!/usr/bin/env bash
# Installs what the builds and the tests need, where it is missing (Debian).
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev zlib1g-dev  # native build and tests
  libcli11-dev                                   # the native tools' command lines
  g++-mingw-w64-i686 g++-mingw-w64-x86-64        # both Windows builds
  wine64 xvfb xauth                              # Windows tests under wine64
  imagemagick                                    # screenshots of the dialog, and their pixels
  dynamite libdynamite-dev                       # codec cross-check and baseline
  libdeflate-dev                                 # the codec benchmark's baselines
  osslsigncode openssl                           # signed packages in the tests
  dpkg-dev file                                  # cpack's .deb: its dependency list
  libssl-dev                                     # OpenSSL: qdpkg verify's signatures, the tests' digests
  clang libclang-rt-14-dev                       # sanitizers and libFuzzer
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
