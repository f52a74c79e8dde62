#!/usr/bin/env bash
# The main job: set up, build all three builds, and build the example package
# from examples/ with the native builder; then check that every path the
# README says this leaves is there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja
cmake --build build
cmake --build build --target example_package
scripts/check_readme_paths.sh
