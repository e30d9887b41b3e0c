#!/usr/bin/env bash
# Builds RAID GUI with every test and benchmark and runs all tests: plain, under
# AddressSanitizer + UndefinedBehaviorSanitizer, under ThreadSanitizer, and the
# libFuzzer targets for a bounded time; then the Windows programs and tests, cross-built
# with mingw-w64 and run under Wine (scripts/windows.sh).
#
#   RAID_TEST_ONLY=plain|address|thread|fuzz|windows   run one of the five (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
raid_install_missing
jobs=$(nproc 2>/dev/null || echo 2)
only=${RAID_TEST_ONLY:-all}
export QT_QPA_PLATFORM=offscreen

want() { [ "$only" = all ] || [ "$only" = "$1" ]; }

if want plain; then
  echo "== plain build"
  cmake -S . -B build -G Ninja -DRAID_WERROR=ON >/dev/null
  ninja -C build -j"$jobs"
  ctest --test-dir build --output-on-failure -j"$jobs"
fi

# Warnings are errors in the plain build; the sanitizers make the compiler guess at
# uninitialised values inside the standard library, so there they stay warnings.
if want address; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
  # Qt's offscreen platform keeps allocations until exit: leaks are not what we look for.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  cmake -S . -B build-asan -G Ninja -DRAID_SANITIZE=address -DRAID_BUILD_BENCH=OFF -DRAID_WERROR=OFF >/dev/null
  ninja -C build-asan -j"$jobs"
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
fi

if want thread; then
  echo "== ThreadSanitizer"
  # Qt itself is not built with TSan, so the window tests stay in the other runs;
  # every path between the engine and its workers is in the core tests.
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  cmake -S . -B build-tsan -G Ninja -DRAID_SANITIZE=thread -DRAID_BUILD_GUI=OFF -DRAID_BUILD_BENCH=OFF -DRAID_WERROR=OFF >/dev/null
  ninja -C build-tsan -j"$jobs"
  ctest --test-dir build-tsan --output-on-failure -j"$jobs"
fi

if want fuzz; then
  echo "== libFuzzer targets"
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DRAID_FUZZ=ON >/dev/null
  ninja -C build-fuzz -j"$jobs"
  ctest --test-dir build-fuzz --output-on-failure -j"$jobs"
fi

if want windows; then
  echo "== Windows (mingw-w64, under Wine)"
  bash scripts/windows.sh
fi
