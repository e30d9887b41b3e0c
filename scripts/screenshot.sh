#!/usr/bin/env bash
# Takes docs/screenshot.png: the window of raid-gui-sim on the simulated default
# enclosure, on a virtual X display; or the window on a scenario.
#
#   scripts/screenshot.sh [OUTPUT.png [SCENARIO]]
#   scripts/screenshot.sh --status      docs/status-rebuild.png and docs/status-hybrid.png
#                                       from the scenarios in docs/scenarios/
#   scripts/screenshot.sh --scales      docs/screenshot-150.png and docs/screenshot-200.png: the
#                                       window on a screen of 150 % and 200 % (QT_SCALE_FACTOR)
#   scripts/screenshot.sh --history     docs/history-fan-failure.png: the history chart
#                                       window on 7 days of an enclosure whose fan fails
#                                       on day 3 (a made-up series, build/tests/gui/raid_gui_smoke)
#
# RAID_SCREENSHOT_PROGRAM picks another program that opens the window (default
# build/raid-gui-sim; with a scenario it must take raid-gui-sim's --scenario and
# --log-dir); RAID_SCREENSHOT_SETTLE is how many seconds to let it draw after the
# window appears (default 4: detection, first poll, Status page; 7 with a scenario,
# whose enclosure is only read at the first poll, about 4 s after the start).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" == --status ]]; then
  "$0" docs/status-rebuild.png docs/scenarios/status-rebuild.scenario
  "$0" docs/status-hybrid.png docs/scenarios/status-hybrid.scenario
  exit 0
fi

if [[ "${1:-}" == --scales ]]; then
  for percent in 150 200; do
    QT_SCALE_FACTOR="$(awk "BEGIN { print $percent / 100 }")" "$0" "${2:-docs}/screenshot-$percent.png"
  done
  exit 0
fi

if [[ "${1:-}" == --history ]]; then
  export RAID_SCREENSHOT_PROGRAM="${RAID_SCREENSHOT_PROGRAM:-build/tests/gui/raid_gui_smoke}"
  export RAID_SCREENSHOT_ARGS=--history-chart RAID_SCREENSHOT_NAME="History - "
  export RAID_SCREENSHOT_SETTLE="${RAID_SCREENSHOT_SETTLE:-3}"
  exec "$0" "${2:-docs/history-fan-failure.png}"
fi

out="${1:-docs/screenshot.png}"
name="${RAID_SCREENSHOT_NAME:-RAID GUI}"
scenario="${2:-}"
program="${RAID_SCREENSHOT_PROGRAM:-build/raid-gui-sim}"
if [[ -n "$scenario" ]]; then
  settle="${RAID_SCREENSHOT_SETTLE:-7}"
else
  settle="${RAID_SCREENSHOT_SETTLE:-4}"
fi

if [[ "${RAID_SCREENSHOT_INNER:-}" != 1 ]]; then
  for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing" >&2; exit 1; }
  done
  [[ -x "$program" ]] || { echo "screenshot: $program not built" >&2; exit 1; }
  [[ -z "$scenario" || -f "$scenario" ]] || { echo "screenshot: no scenario $scenario" >&2; exit 1; }
  mkdir -p "$(dirname "$out")"
  export RAID_SCREENSHOT_INNER=1
  # Room for the window at 200 % (1240 x 880).
  exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$out" "$scenario"
fi

# Inside the virtual display.
export QT_QPA_PLATFORM=xcb
read -r -a args <<< "${RAID_SCREENSHOT_ARGS:-}"
logs=""
if [[ -n "$scenario" ]]; then
  # The run's day logs are thrown away with it.
  logs="$(mktemp -d)"
  args+=(--scenario "$scenario" --log-dir "$logs")
fi
"$program" "${args[@]}" >/dev/null 2>&1 &
pid=$!
stop() {
  # The program ends on SIGTERM the way it does at session end.
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  [[ -z "$logs" ]] || rm -rf "$logs"
}
trap stop EXIT

window=""
for _ in $(seq 1 150); do
  window="$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n1 || true)"
  [[ -n "$window" ]] && break
  kill -0 "$pid" 2>/dev/null || { echo "screenshot: $program ended before its window appeared" >&2; exit 1; }
  sleep 0.1
done
[[ -n "$window" ]] || { echo "screenshot: no window named \"$name\" appeared" >&2; exit 1; }

sleep "$settle"
import -window "$window" "$out"
# A window drawn for its scale is that many times the size of the 100 % one, all of it
# on the screen: a smaller picture is a window Qt did not scale, or one cut off.
if [[ -n "${QT_SCALE_FACTOR:-}" && -z "${RAID_SCREENSHOT_ARGS:-}" ]]; then
  want="$(awk "BEGIN { printf \"%dx%d\", 620 * $QT_SCALE_FACTOR, 440 * $QT_SCALE_FACTOR }")"
  got="$(identify -format %wx%h "$out")"
  [[ "$got" == "$want" ]] || { echo "screenshot: $out is $got, not $want at scale $QT_SCALE_FACTOR" >&2; exit 1; }
fi
echo "screenshot: wrote $out"
