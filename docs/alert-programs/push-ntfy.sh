#!/bin/sh
# raid-gui-monitor alert program: each alert as a push notification, posted over HTTP
# to an ntfy-style service (the text in the body, the title and priority in headers).
#
# Install it as root, owned by root and writable by nobody else, then name it:
#   install -o root -g root -m 0755 push-ntfy.sh /etc/qx-raid-gui/push-ntfy.sh
#   raid-gui-monitor --set alert-command=/etc/qx-raid-gui/push-ntfy.sh
#
# The service runs it as root, without a shell and with a clean environment: the
# RAID_ALERT_* variables, PATH, HOME and LANG. Settings therefore live here.
set -eu

# Your topic. Keep it unguessable: whoever knows it can read the alerts.
url="https://ntfy.sh/raid-alerts-change-me"

# The service cleans every variable of control characters, so no value can end a
# header early or start one of its own.
priority=high
case "${RAID_ALERT_KIND:-}" in
  2 | 3) priority=urgent ;;  # an enclosure gone, or over heat
esac

# Standard input is the alert's text (subject, detail lines, time, host): the body.
# The service ends the program after 30 s; curl gives up before that.
exec curl --silent --show-error --fail --max-time 20 \
  --header "Title: ${RAID_ALERT_HOST:-?}: ${RAID_ALERT_NAME:-RAID alert}" \
  --header "Priority: $priority" \
  --header "Tags: warning,floppy_disk" \
  --data-binary @- \
  "$url"
