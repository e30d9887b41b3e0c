#!/usr/bin/env bash
# Builds RAID GUI and opens its window on the simulated default enclosure.
# Extra arguments go to raid-gui-sim (for example --trace trace.txt, or --headless
# to print the outputs on a virtual clock instead of opening the window).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
raid_install_missing
cmake -S . -B build -G Ninja >/dev/null
ninja -C build raid-gui-sim
exec ./build/raid-gui-sim "$@"
