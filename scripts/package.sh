#!/usr/bin/env bash
# Builds the Debian packages raid-gui-monitor and raid-gui with CPack.
#
#   scripts/package.sh [--build-dir DIR] [--out DIR]
#
# Without --build-dir: a Release build of its own in build-pkg (configured and built
# here). With --build-dir: that build as it is, not rebuilt (the tests package the
# plain build this way); it must have been built already. The .deb files go to --out
# (default: <build dir>/packages); their paths are printed, one a line.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=""
out_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) [ $# -ge 2 ] || { echo "package.sh: --build-dir needs a folder" >&2; exit 2; }
                 build_dir=$2; shift 2 ;;
    --out) [ $# -ge 2 ] || { echo "package.sh: --out needs a folder" >&2; exit 2; }
           out_dir=$2; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "package.sh: unknown option '$1'" >&2; exit 2 ;;
  esac
done

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "package.sh: $tool is missing (apt-get install dpkg-dev cmake)" >&2
    exit 77
  fi
done

if [ -z "$build_dir" ]; then
  build_dir=build-pkg
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DBUILD_TESTING=OFF -DRAID_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build_dir" -j"${RAID_JOBS:-2}"
elif [ ! -f "$build_dir/CPackConfig.cmake" ]; then
  echo "package.sh: $build_dir is no configured build (no CPackConfig.cmake)" >&2
  exit 2
fi
build_dir=$(cd "$build_dir" && pwd)

# The packaged desktop entries, policy and unit name /usr paths. A build configured
# before the packaging rules existed keeps CMake's old default /usr/local: it is
# configured again for /usr (nothing is recompiled; only the generated entries change).
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build_dir/CMakeCache.txt")
if [ "$prefix" != /usr ]; then
  echo "package.sh: $build_dir installed to '$prefix'; configuring it for /usr" >&2
  cmake -DCMAKE_INSTALL_PREFIX=/usr "$build_dir" >/dev/null
fi

out_dir=${out_dir:-$build_dir/packages}
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)
rm -f "$out_dir"/raid-gui_*.deb "$out_dir"/raid-gui-monitor_*.deb

# CPack stages in a folder of its own; the build is not rebuilt (the install rules
# take what the build left, and fail on anything missing).
log=$out_dir/cpack.log
if ! (cd "$build_dir" && cpack -G DEB -B "$out_dir/cpack" --config CPackConfig.cmake) >"$log" 2>&1; then
  cat "$log" >&2
  echo "package.sh: cpack failed" >&2
  exit 1
fi
shopt -s nullglob
debs=("$out_dir"/cpack/*.deb)
if [ ${#debs[@]} -eq 0 ]; then
  cat "$log" >&2
  echo "package.sh: cpack made no package" >&2
  exit 1
fi
for deb in "${debs[@]}"; do
  mv -f "$deb" "$out_dir/"
  echo "$out_dir/$(basename "$deb")"
done
