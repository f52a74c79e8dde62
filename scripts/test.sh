#!/usr/bin/env bash
# Set up, build all three builds, and run every test: native unit and
# end-to-end tests, the Windows tests under wine64 (on a virtual display),
# then the same native tests under AddressSanitizer and UndefinedBehaviorSanitizer
# and a bounded run of every fuzz target. That second build is also the
# compressor's checking build: every implode search runs the block search
# beside the fast one and stops at the first difference.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build -G Ninja
cmake --build build
xvfb-run -a ctest --test-dir build --output-on-failure -j2

CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DQDPACK_SANITIZE=ON -DQDPACK_FUZZ=ON \
  -DQDPACK_IMPLODE_CHECK=ON \
  -DQDPACK_WINDOWS_BUILDS=OFF -DQDPACK_WIN32_DIR="$PWD/build/windows-i686" \
  -DQDPACK_WIN64_DIR="$PWD/build/windows-x86_64"
cmake --build build-sanitize
ctest --test-dir build-sanitize --output-on-failure -j2
