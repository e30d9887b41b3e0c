#!/usr/bin/env bash
# Runs the native window's stall meter under Wine on a virtual display, in a Wine prefix
# of its own (build-win/bench-wine, made on first use) that draws windows' frames itself
# ("Managed"=N under HKCU\Software\Wine\X11 Driver). With no window manager on the
# virtual display, Wine otherwise waits 2 s for one each time it hides a window it lets
# the manager handle (its log says "wait_for_withdrawn_state ... wait timed out"), and
# every closed message box would count as a 2 s stall of the window that Windows does
# not have.
#
#   bench/win32/run.sh [--seconds N] [--latency-us U] [--path mailbox|ata|vu1]
set -euo pipefail
cd "$(dirname "$0")/../.."

program="${RAID_BENCH_PROGRAM:-build-win/bench/win32/raid_bench_win32_stall.exe}"
prefix="$(realpath -m "${RAID_BENCH_PREFIX:-build-win/bench-wine}")"
wine=$(command -v wine || command -v wine64 || true)
[[ -n "$wine" ]] || { echo "run.sh: wine is missing" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "run.sh: xvfb-run is missing" >&2; exit 1; }
[[ -f "$program" ]] || { echo "run.sh: $program not built (ninja -C build-win raid_bench_win32_stall)" >&2; exit 1; }

export WINEPREFIX="$prefix" WINEDEBUG=-all
if [[ ! -f "$prefix/.raid-bench" ]]; then
  mkdir -p "$prefix"
  wineboot --init >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.raid-bench"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" "$program" "$@"
