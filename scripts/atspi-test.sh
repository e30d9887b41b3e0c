#!/usr/bin/env bash
# Runs the window tests that read the window over AT-SPI: a private session bus, the
# accessibility bus of at-spi2-core's launcher on it and its registry (started before
# the window, so Qt's bridge registers with it at start), a virtual X display and Qt's
# bridge switched on. Qt finds the accessibility bus through the session bus (given as
# AT_SPI_BUS_ADDRESS, Qt 6.4 misses its own start-up signal and never registers).
#
#   scripts/atspi-test.sh build/tests/gui/test_gui
set -euo pipefail
test_gui="$1"

if [[ "${RAID_ATSPI_INNER:-}" != 1 ]]; then
  for tool in dbus-run-session dbus-send xvfb-run; do
    command -v "$tool" >/dev/null || { echo "atspi-test: $tool is missing" >&2; exit 1; }
  done
  export RAID_ATSPI_INNER=1
  exec dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$test_gui"
fi

# On the private session bus: ask for the accessibility bus (activating the launcher).
if address="$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress 2>/dev/null)"; then
  a11y_bus="${address//[[:space:]]/}"
  export RAID_ATSPI=1
  # The registry the window registers with at start: running before the window is.
  dbus-send --bus="$a11y_bus" --print-reply --dest=org.a11y.atspi.Registry \
    /org/a11y/atspi/accessible/root org.freedesktop.DBus.Peer.Ping >/dev/null ||
    echo "atspi-test: the accessibility registry did not start" >&2
else
  echo "atspi-test: no accessibility bus (at-spi2-core missing?); the test skips" >&2
fi
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
exec "$test_gui" --gtest_filter='AtSpiTest.*'
