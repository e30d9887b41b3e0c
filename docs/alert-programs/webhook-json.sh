#!/bin/sh
# raid-gui-monitor alert program: each alert as a JSON document, posted to a webhook
# (chat services, home automation, paging). Written for sh, sed, awk and curl alone.
#
# Install it as root, owned by root and writable by nobody else, then name it:
#   install -o root -g root -m 0755 webhook-json.sh /etc/qx-raid-gui/webhook-json.sh
#   raid-gui-monitor --set alert-command=/etc/qx-raid-gui/webhook-json.sh
#
# The service runs it as root, without a shell and with a clean environment: the
# RAID_ALERT_* variables, PATH, HOME and LANG. Settings therefore live here. A token
# does not belong on curl's command line (other users see it in ps): put the header
# into a root-only file and add --header @/etc/qx-raid-gui/webhook-headers below.
set -eu

url="https://hooks.example.org/raid"

# A value as a JSON string's inside: backslashes and quotes escaped, line feeds as
# \n, any other control character dropped (the service sends none; a script run by
# hand might).
json() {
  printf '%s' "$1" | LC_ALL=C tr -d '\001-\011\013-\037\177' |
    sed -e 's/\\/\\\\/g' -e 's/"/\\"/g' |
    awk 'NR > 1 { printf "\\n" } { printf "%s", $0 }'
}

# Numbers only where the document has numbers.
number() {
  case "$1" in
    '' | *[!0-9]*) echo 0 ;;
    *) echo "$1" ;;
  esac
}

printf '{"host":"%s","kind":%s,"kindName":"%s","name":"%s","device":"%s","model":"%s","port":%s,"subject":"%s","detail":"%s","time":"%s","epoch":%s}\n' \
  "$(json "${RAID_ALERT_HOST:-}")" \
  "$(number "${RAID_ALERT_KIND:-}")" \
  "$(json "${RAID_ALERT_KIND_NAME:-}")" \
  "$(json "${RAID_ALERT_NAME:-}")" \
  "$(json "${RAID_ALERT_DEVICE:-}")" \
  "$(json "${RAID_ALERT_MODEL:-}")" \
  "$(number "${RAID_ALERT_PORT:-}")" \
  "$(json "${RAID_ALERT_SUBJECT:-}")" \
  "$(json "${RAID_ALERT_DETAIL:-}")" \
  "$(json "${RAID_ALERT_TIME:-}")" \
  "$(number "${RAID_ALERT_EPOCH:-}")" |
  exec curl --silent --show-error --fail --max-time 20 \
    --header "Content-Type: application/json" \
    --data-binary @- \
    "$url"
