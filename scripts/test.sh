#!/usr/bin/env bash
# Builds RAID GUI with every test and benchmark and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
raid_install_missing
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja >/dev/null
ninja -C build -j"$jobs"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$jobs"
