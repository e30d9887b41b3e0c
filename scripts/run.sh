#!/usr/bin/env bash
# Builds RAID GUI and starts it on the simulated default enclosure.
# Extra arguments go to raid-gui-sim (for example --until 120 or --trace trace.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
raid_install_missing
cmake -S . -B build -G Ninja >/dev/null
ninja -C build raid-gui-sim
exec ./build/raid-gui-sim --headless "$@"
