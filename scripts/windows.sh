#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 and runs their tests under Wine:
# raid-gui-sim.exe (headless), raid-gui-monitor.exe (a console program: watching,
# --status, --set, --test-mail; no bus) and the test programs, with GoogleTest built from
# Debian's sources. The tests run through ctest, one Wine run per test program, in a
# Wine prefix of the build's own (build-win/wine). Among them, sim_compare plays every
# scenario on the Linux build/raid-gui-sim and on raid-gui-sim.exe and compares what
# they print and write (scripts/compare-sim.sh); windows_installer builds the NSIS
# installer and installs, starts and uninstalls it in a prefix of its own
# (scripts/windows-installer.sh).
#
#   RAID_WINDOWS_BUILD=DIR   the Windows build folder (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
# The Linux packages too: the comparison needs the Linux simulator.
# nsis: makensis for the installer (scripts/windows-installer.sh, the test windows_installer).
RAID_PACKAGES+=(mingw-w64 wine wine64 nsis)
raid_install_missing
started=$SECONDS
jobs=$(nproc 2>/dev/null || echo 2)
win=${RAID_WINDOWS_BUILD:-build-win}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

# The Linux simulator the Windows one is compared with (built already by the plain stage
# of scripts/test.sh, when it ran first).
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DRAID_WERROR=ON "${launcher[@]}" >/dev/null
fi
ninja -C build -j"$jobs" raid-gui-sim

cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DRAID_WERROR=ON \
  -DRAID_LINUX_SIM="$PWD/build/raid-gui-sim" "${launcher[@]}" >/dev/null
ninja -C "$win" -j"$jobs"

# A prefix of this build's own, so that no other user of Wine shares its registry.
export WINEPREFIX=$PWD/$win/wine WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== making the Wine prefix $WINEPREFIX"
  # No Mono or Gecko: nothing here needs them, and their installers would ask.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init
  # Wine draws the windows' frames itself: the virtual display has no window manager,
  # and a managed window waits 2 s for one each time it is hidden (every box closed).
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
fi
echo "== tests under Wine"
status=0
# The window tests need a display: a virtual one for the whole run.
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$win" --output-on-failure -j"$jobs" || status=$?
wineserver -k 2>/dev/null || true
echo "== Windows stage: $((SECONDS - started)) s"
exit $status
