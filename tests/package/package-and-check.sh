#!/usr/bin/env bash
# ctest: package the build in $2 (sources in $1) and check the packages.
# Exit 77 (skipped) when a packaging tool is missing.
set -euo pipefail
src=$1
build=$2
out=$build/packages
"$src/scripts/package.sh" --build-dir "$build" --out "$out"
exec "$src/scripts/check-packages.sh" --root-cache "$build/debian12-root" "$out"
