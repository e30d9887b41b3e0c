#!/usr/bin/env bash
# Takes the native window's pictures: raid-gui-sim.exe under Wine on a virtual X
# display, each cropped to the window (caption and frame as Wine draws them).
#
#   scripts/screenshot-win32.sh            all nine: docs/win32-screenshot.png (the default
#                                          enclosure's Status page), docs/win32-status-rebuild.png
#                                          and docs/win32-status-hybrid.png (the scenarios in
#                                          docs/scenarios/), each also at 150 % and 200 %
#                                          (*-150.png, *-200.png)
#   scripts/screenshot-win32.sh OUTPUT.png [SCENARIO]     one picture
#
# RAID_SCREENSHOT_SCALE=150 or 200 takes a single picture at that scale (default 100).
# RAID_SCREENSHOT_PROGRAM picks another build of raid-gui-sim.exe (default
# build-win/raid-gui-sim.exe); RAID_SCREENSHOT_SETTLE is how many seconds the window
# gets to draw after it appears (default 6, 9 with a scenario: its enclosure is read
# at the first poll, about 4 s after the start).
#
# The pictures are taken in Wine prefixes of the script's own (build-win/screenshot-wine/
# 100, 150 and 200, made on first use), so nothing of the tests' prefix shows and the scale
# is known: the 150 % one says LogPixels=144 under HKCU\Control Panel\Desktop, the 200 %
# one 192. Both tell
# Wine to draw the window's frame itself ("Managed"=N): the virtual display has no window
# manager, which would draw it otherwise. The PNGs are kept small: an 8-bit palette
# whenever the picture has 256 colours or fewer, otherwise quantised to 256 without dither.
set -euo pipefail
cd "$(dirname "$0")/.."

program="${RAID_SCREENSHOT_PROGRAM:-build-win/raid-gui-sim.exe}"
prefixes="${RAID_SCREENSHOT_PREFIXES:-build-win/screenshot-wine}"
wine=$(command -v wine || command -v wine64 || true)

if [[ "${1:-}" == --inner ]]; then
  # Inside the virtual display: --inner OUTPUT SCENARIO PREFIX
  out="$2" scenario="$3"
  export WINEPREFIX="$4" WINEDEBUG=-all
  if [[ -n "$scenario" ]]; then settle="${RAID_SCREENSHOT_SETTLE:-9}"; else settle="${RAID_SCREENSHOT_SETTLE:-6}"; fi
  # The run's day logs are thrown away with it.
  logs="$(mktemp -d)"
  args=(--log-dir "$(winepath -w "$logs")")
  [[ -z "$scenario" ]] || args+=(--scenario "$scenario")
  "$wine" "$program" "${args[@]}" >/dev/null 2>&1 &
  pid=$!
  # shellcheck disable=SC2317  # run by the trap
  stop() {
    # Everything in the script's own prefix: the program and Wine's helpers for it.
    wineserver -k 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$logs"
  }
  trap stop EXIT
  window=""
  for _ in $(seq 1 600); do
    window="$(xdotool search --onlyvisible --name "RAID GUI" 2>/dev/null | head -n1 || true)"
    [[ -n "$window" ]] && break
    kill -0 "$pid" 2>/dev/null || { echo "screenshot: $program ended before its window appeared" >&2; exit 1; }
    sleep 0.1
  done
  [[ -n "$window" ]] || { echo "screenshot: no window named \"RAID GUI\" appeared" >&2; exit 1; }
  sleep "$settle"
  raw="$(mktemp --suffix=.png)"
  import -window "$window" "$raw"
  if (($(identify -format %k "$raw") <= 256)); then
    convert "$raw" PNG8:"$out"
  else
    convert "$raw" +dither -colors 256 PNG8:"$out"
  fi
  rm -f "$raw"
  echo "screenshot: wrote $out ($(identify -format '%wx%h' "$out"))"
  exit 0
fi

for tool in xvfb-run xdotool import identify winepath wineserver; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing" >&2; exit 1; }
done
[[ -n "$wine" ]] || { echo "screenshot: wine is missing" >&2; exit 1; }
[[ -f "$program" ]] || { echo "screenshot: $program not built" >&2; exit 1; }

# The prefix for one scale, made once: LogPixels 96 (100 %), 144 (150 %) or 192 (200 %).
prefix() {
  local scale="$1" dir dpi
  dir="$(realpath -m "$prefixes/$scale")"
  dpi=$((96 * scale / 100))
  if [[ ! -f "$dir/.raid-screenshot" ]]; then
    mkdir -p "$dir"
    WINEPREFIX="$dir" WINEDEBUG=-all wineboot --init >/dev/null 2>&1
    WINEPREFIX="$dir" WINEDEBUG=-all "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    WINEPREFIX="$dir" WINEDEBUG=-all "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    WINEPREFIX="$dir" wineserver -w
    touch "$dir/.raid-screenshot"
  fi
  # Debian's Wine leaves its own TrueType fonts out of a new prefix's Fonts folder, and
  # without Marlett the caption's buttons show the letters "0 1 r": Wine's fonts are
  # put there.
  local fonts
  for fonts in /usr/share/wine/fonts /usr/lib/wine/fonts /opt/wine*/share/wine/fonts; do
    if [[ -d "$fonts" ]]; then cp -n "$fonts"/*.ttf "$dir/drive_c/windows/Fonts/" 2>/dev/null || true; fi
  done
  echo "$dir"
}

shot() {
  local out="$1" scenario="$2" scale="$3" dir
  [[ -z "$scenario" || -f "$scenario" ]] || { echo "screenshot: no scenario $scenario" >&2; exit 1; }
  mkdir -p "$(dirname "$out")"
  dir="$(prefix "$scale")"
  xvfb-run -a -s "-screen 0 1600x1200x24" "$0" --inner "$out" "$scenario" "$dir"
}

if [[ $# -gt 0 ]]; then
  scale="${RAID_SCREENSHOT_SCALE:-100}"
  [[ "$scale" == 100 || "$scale" == 150 || "$scale" == 200 ]] ||
    { echo "screenshot: RAID_SCREENSHOT_SCALE is 100, 150 or 200" >&2; exit 1; }
  shot "$1" "${2:-}" "$scale"
  exit 0
fi

for scale in 100 150 200; do
  suffix=""
  [[ "$scale" == 100 ]] || suffix="-$scale"
  shot "docs/win32-screenshot$suffix.png" "" "$scale"
  shot "docs/win32-status-rebuild$suffix.png" docs/scenarios/status-rebuild.scenario "$scale"
  shot "docs/win32-status-hybrid$suffix.png" docs/scenarios/status-hybrid.scenario "$scale"
done
