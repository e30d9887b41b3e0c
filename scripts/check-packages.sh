#!/usr/bin/env bash
# Checks the Debian packages scripts/package.sh made.
#
#   scripts/check-packages.sh [--root-cache DIR] DIR-with-debs
#
# 1. lintian on each package: no error (E:) tags.
# 2. desktop-file-validate on the menu and autostart entries, which start the window as
#    the user (no pkexec); the window's package has no polkit file and depends on the
#    service of its version and on a system bus.
# 3. systemd-analyze verify on the unit, inside the unpacked package (its ExecStart
#    and man page are there); the unit is Type=dbus with the bus name and ExecReload.
#    The service's bus policy is checked against the busconfig DTD kept in packaging/
#    (Debian ships none), the polkit policy against polkitd's DTD and for exactly the
#    three actions with the documented defaults, and the D-Bus activation file names
#    the bus name and the unit.
# 4. raid-gui-monitor installed with apt-get on a fresh Debian 12 (debootstrap
#    --variant=minbase bookworm, kept in --root-cache, default build/debian12-root, and
#    copied for each run so every run starts fresh); there `raid-gui-monitor --status`
#    with no enclosure must exit 2 with a message. The service must be enabled, and
#    purging the package must work. Where debootstrap cannot run, the binary runs from
#    the unpacked package instead, after checking that every library it loads comes
#    from a package it depends on. RAID_SKIP_FRESH_INSTALL=1 leaves step 4 out.
#    When the installed binary takes --bus, the fresh root also runs its own system bus
#    (the installed dbus-daemon with the installed policy) and the installed service on
#    it; the service's objects must answer an introspection from outside, and another
#    user must not be able to take its name. Then polkitd is installed and started
#    there: pkaction must show exactly the service's three actions with the documented
#    defaults, and the README's example rules file must let a member of adm upgrade
#    firmware without a password and nobody else.
#
# Exit status: 0 all passed, 1 a check failed, 77 a tool is missing (a skipped test).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

root_cache=$here/build/debian12-root
while [ $# -gt 1 ]; do
  case "$1" in
    --root-cache) root_cache=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: check-packages.sh [--root-cache DIR] DIR-with-debs" >&2
  exit 2
fi
deb_dir=$(cd "$1" && pwd)

for tool in lintian desktop-file-validate systemd-analyze dpkg-deb; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "check-packages.sh: $tool is missing (scripts/deps.sh installs it)" >&2
    exit 77
  fi
done

shopt -s nullglob
monitor_debs=("$deb_dir"/raid-gui-monitor_*.deb)
gui_debs=("$deb_dir"/raid-gui_*.deb)
if [ ${#monitor_debs[@]} -ne 1 ]; then
  echo "check-packages.sh: expected one raid-gui-monitor_*.deb in $deb_dir" >&2
  exit 1
fi
monitor_deb=${monitor_debs[0]}
debs=("$monitor_deb" "${gui_debs[@]}")

failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
started=$SECONDS
step() { echo "== $* ($((SECONDS - started)) s)"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/raid-check-packages.XXXXXX")
cleanup() {
  for pid in ${root_pids:-}; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${fresh:-}" ]; then
    umount "$fresh/proc" 2>/dev/null || true
    rm -rf --one-file-system "$fresh"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# `check_dtd DTD FILE`: FILE is valid XML that follows DTD (the DOCTYPE's own address
# is never fetched). polkitd and dbus-daemon ignore a file they cannot read, silently.
polkit_dtd=/usr/share/polkit-1/policyconfig-1.dtd
bus_dtd=$here/packaging/busconfig.dtd
check_dtd() {
  if ! command -v xmllint >/dev/null 2>&1 || [ ! -f "$1" ]; then
    echo "(${2#$work/} not validated: no xmllint or $1)"
    return
  fi
  local out
  out=$(xmllint --nonet --noout --dtdvalid "$1" "$2" 2>&1) ||
    { printf '%s\n' "$out" | grep -v 'network entity\|external entity\|freedesktop.org/standards\|^ *\^$' >&2
      fail "${2#$work/} does not follow $1"; }
}

# The service's polkit actions and their defaults (any, inactive, active), one a line,
# sorted: what README.md and raid-gui-monitor(8) document.
expected_defaults="org.qxraidgui.monitor1.configure-alert-program auth_admin auth_admin auth_admin
org.qxraidgui.monitor1.configure-mail auth_admin_keep auth_admin_keep auth_admin_keep
org.qxraidgui.monitor1.read-logs no no yes
org.qxraidgui.monitor1.upgrade-firmware no no auth_admin"
# `policy_defaults FILE`: the actions FILE declares, in that form.
policy_defaults() {
  /usr/bin/python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
rows = []
for a in ET.parse(sys.argv[1]).getroot().iter("action"):
    d = a.find("defaults")
    get = lambda k: (d.findtext(k) or "-").strip() if d is not None else "-"
    rows.append(" ".join([a.get("id"), get("allow_any"), get("allow_inactive"), get("allow_active")]))
print("\n".join(sorted(rows)))
PY
}

step "lintian"
# Root is what the CI runs as; lintian only warns about it.
rc=0
out=$(lintian --fail-on error --tag-display-limit 0 "${debs[@]}" 2>&1) || rc=$?
printf '%s\n' "$out" | grep -v 'running with root privileges' || true
if [ "$rc" -ne 0 ] || printf '%s\n' "$out" | grep -q '^E: '; then
  fail "lintian reports errors"
fi

step "unpacking"
for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  dpkg-deb -x "$deb" "$work/$name"
done

step "desktop-file-validate"
if [ ${#gui_debs[@]} -eq 1 ]; then
  entries=("$work"/raid-gui/usr/share/applications/*.desktop "$work"/raid-gui/etc/xdg/autostart/*.desktop)
  [ ${#entries[@]} -eq 2 ] || fail "expected a menu and an autostart entry, found ${#entries[@]}"
  for entry in "${entries[@]}"; do
    out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate ${entry#$work/}"
    [ -z "$out" ] || echo "$out"
    # Both start the installed window directly, as the user: it is a client of the
    # service and needs no privileges, so nothing may raise it.
    grep -qx 'Exec=/usr/bin/raid-gui' "$entry" || fail "${entry#$work/}: Exec is not /usr/bin/raid-gui"
    ! grep -qi 'pkexec\|gksu\|sudo' "$entry" || fail "${entry#$work/} still starts the window with privileges"
  done
  [ -x "$work/raid-gui/usr/bin/raid-gui" ] || fail "raid-gui package has no /usr/bin/raid-gui"
  # No polkit action of its own (the service's actions are in raid-gui-monitor), and a
  # dependency on the service of the same version and on a system bus, none on pkexec.
  [ ! -e "$work/raid-gui/usr/share/polkit-1" ] || fail "the raid-gui package still installs polkit files"
  gui_depends=$(dpkg-deb -f "${gui_debs[0]}" Depends)
  echo "raid-gui Depends: $gui_depends"
  version=$(dpkg-deb -f "${gui_debs[0]}" Version)
  printf '%s\n' "$gui_depends" | grep -qF "raid-gui-monitor (= $version)" ||
    fail "raid-gui does not depend on raid-gui-monitor (= $version)"
  printf '%s\n' "$gui_depends" | grep -q 'dbus-system-bus' || fail "raid-gui does not depend on a system bus"
  ! printf '%s\n' "$gui_depends" | grep -qi 'pkexec\|policykit' || fail "raid-gui still depends on pkexec"
  # Each theme icon is the size its folder says (PNG width and height at bytes 16..23).
  icons=("$work"/raid-gui/usr/share/icons/hicolor/*/apps/raid-gui.png)
  [ ${#icons[@]} -ge 3 ] || fail "expected hicolor icons, found ${#icons[@]}"
  for icon in "${icons[@]}"; do
    size=$(basename "$(dirname "$(dirname "$icon")")")
    read -r w h < <(od -An -tu1 -j16 -N8 "$icon" |
                    awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
    [ "${w}x${h}" = "$size" ] || fail "${icon#$work/} is ${w}x${h}"
  done
else
  echo "(no raid-gui package: built without the window)"
fi

step "systemd-analyze verify"
mroot=$work/raid-gui-monitor
unit=$mroot/lib/systemd/system/raid-gui-monitor.service
if [ ! -f "$unit" ]; then
  fail "raid-gui-monitor package has no lib/systemd/system/raid-gui-monitor.service"
else
  # ExecStart names /usr/sbin/raid-gui-monitor, which is not installed here: a copy of
  # the unit runs the unpacked binary instead; MANPATH finds the Documentation= page.
  mkdir -p "$work/unit"
  sed "s#^ExecStart=/usr/sbin/raid-gui-monitor#ExecStart=$mroot/usr/sbin/raid-gui-monitor#" \
      "$unit" >"$work/unit/raid-gui-monitor.service"
  grep -q "^ExecStart=$mroot/" "$work/unit/raid-gui-monitor.service" ||
    fail "the unit's ExecStart is not /usr/sbin/raid-gui-monitor"
  out=$(MANPATH=$mroot/usr/share/man systemd-analyze verify "$work/unit/raid-gui-monitor.service" 2>&1) ||
    fail "systemd-analyze verify failed"
  # Complaints about other units of this machine are not ours to fix.
  ours=$(printf '%s\n' "$out" | grep -i 'raid-gui' || true)
  [ -z "$out" ] || printf '%s\n' "$out"
  [ -z "$ours" ] || fail "systemd-analyze verify complains about the unit"
fi

step "bus policy, activation and polkit actions"
bus_name=org.qxraidgui.Monitor1
bus_policy=$mroot/usr/share/dbus-1/system.d/$bus_name.conf
activation=$mroot/usr/share/dbus-1/system-services/$bus_name.service
actions=$mroot/usr/share/polkit-1/actions/org.qxraidgui.monitor1.policy
if [ ! -f "$bus_policy" ]; then
  fail "raid-gui-monitor package has no usr/share/dbus-1/system.d/$bus_name.conf"
else
  check_dtd "$bus_dtd" "$bus_policy"
  grep -q "<allow own=\"$bus_name\"/>" "$bus_policy" || fail "the bus policy lets nobody own $bus_name"
fi
if [ ! -f "$activation" ]; then
  fail "raid-gui-monitor package has no usr/share/dbus-1/system-services/$bus_name.service"
else
  grep -qx "Name=$bus_name" "$activation" || fail "the activation file does not name $bus_name"
  grep -qx "SystemdService=raid-gui-monitor.service" "$activation" ||
    fail "the activation file does not start raid-gui-monitor.service"
fi
if [ ! -f "$actions" ]; then
  fail "raid-gui-monitor package has no usr/share/polkit-1/actions/org.qxraidgui.monitor1.policy"
else
  check_dtd "$polkit_dtd" "$actions"
  # Exactly the three actions, with the defaults the README's table states.
  out=$(policy_defaults "$actions" 2>&1) || true
  if [ "$out" != "$expected_defaults" ]; then
    printf 'found:\n%s\nexpected:\n%s\n' "$out" "$expected_defaults" >&2
    fail "the polkit policy's actions or defaults are not the ones documented"
  fi
fi
if [ -f "$unit" ]; then
  for line in "Type=dbus" "BusName=$bus_name" 'ExecReload=/bin/kill -HUP $MAINPID'; do
    grep -qxF "$line" "$unit" || fail "the unit has no $line"
  done
fi

# --status with no enclosure: exit 2 and a line that says why.
check_status() {
  local rc=0 out
  out=$("$@" --status 2>&1) || rc=$?
  echo "raid-gui-monitor --status: exit $rc: $out"
  [ "$rc" -eq 2 ] || fail "raid-gui-monitor --status exited $rc, not 2, with no enclosure"
  [ -n "$out" ] || fail "raid-gui-monitor --status said nothing"
}

fallback_run() {
  echo "(running from the unpacked package on this machine instead of a fresh Debian 12)"
  local depends names needed lib path pkg
  depends=$(dpkg-deb -f "$monitor_deb" Depends)
  echo "Depends: $depends"
  # Package names only: "libc6 (>= 2.34), libstdc++6 (>= 12)" -> " libc6 libstdc++6 "
  names=" $(printf '%s' "$depends" | sed 's/([^)]*)//g; s/[,|]/ /g' | tr -s ' ') "
  # The libraries the binary itself names (NEEDED); what those load in turn is their
  # packages' business.
  needed=$(objdump -p "$mroot/usr/sbin/raid-gui-monitor" | awk '$1 == "NEEDED" { print $2 }')
  for lib in $needed; do
    case "$lib" in ld-linux*|linux-vdso*) continue ;; esac
    path=$(ldd "$mroot/usr/sbin/raid-gui-monitor" | awk -v l="$lib" '$1 == l { print $3 }')
    pkg=""
    [ -n "$path" ] && pkg=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1 || true)
    [ -n "$path" ] && [ -z "$pkg" ] && pkg=$(dpkg -S "$path" 2>/dev/null | head -1 | cut -d: -f1 || true)
    if [ -z "$pkg" ]; then
      fail "$lib (${path:-not found}) belongs to no installed package"
    elif [ "${names#* "$pkg" }" = "$names" ]; then
      fail "$lib comes from $pkg, which is not in Depends"
    else
      echo "$lib: $pkg"
    fi
  done
  check_status "$mroot/usr/sbin/raid-gui-monitor"
}

# In the fresh root: its system bus, the service on it, an introspection from outside.
check_on_system_bus() {
  step "the installed service on the fresh root's system bus"
  local socket=$fresh/run/dbus/system_bus_socket address pid
  address=unix:path=$socket
  mkdir -p "$fresh/run/dbus"
  pid=$(in_root dbus-daemon --system --fork --print-pid 2>"$work/bus.log" | head -1) ||
    { cat "$work/bus.log" >&2; fail "the fresh root's dbus-daemon did not start"; return; }
  root_pids="$root_pids $pid"
  chroot "$fresh" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /usr/sbin/raid-gui-monitor \
      >"$work/service.out" 2>"$work/service.err" &
  root_pids="$root_pids $!"
  local tries=0
  until busctl --address="$address" status org.qxraidgui.Monitor1 >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ]; then
      cat "$work/service.err" >&2
      fail "the installed service did not take org.qxraidgui.Monitor1 within a minute"
      return
    fi
    sleep 0.1
  done
  busctl --address="$address" introspect org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 >"$work/introspect.txt" 2>&1 ||
    { cat "$work/introspect.txt" >&2; fail "the service's manager object does not answer an introspection"; }
  grep -q '^org.qxraidgui.Monitor1 ' "$work/introspect.txt" ||
    fail "the manager object has no interface org.qxraidgui.Monitor1"
  grep -q '^org.freedesktop.DBus.ObjectManager ' "$work/introspect.txt" ||
    fail "the manager object has no ObjectManager"
  if command -v setpriv >/dev/null 2>&1; then
    setpriv --reuid=65534 --regid=65534 --clear-groups busctl --address="$address" call org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus RequestName su org.qxraidgui.Monitor1 4 >/dev/null 2>&1 &&
      fail "another user took org.qxraidgui.Monitor1 on the fresh root's bus"
  fi
  check_polkit_in_root "$address"
  for pid in $root_pids; do kill "$pid" 2>/dev/null || true; done
  root_pids=""
}

# In the fresh root, with its system bus running: polkitd installed as an administrator
# would (the service only recommends it) reads the installed actions; pkaction must
# list exactly the three with the documented defaults, and the rules file the README
# shows (the adm group upgrades firmware without a password) must take effect for a
# member of adm and for nobody else.
check_polkit_in_root() {
  step "polkitd in the fresh root: the installed actions, and an administrator's rule"
  local address=$1 pid tries out id any inactive active rc
  if ! in_root apt-get install -y -qq --no-install-recommends polkitd >"$work/polkitd.log" 2>&1; then
    tail -20 "$work/polkitd.log" >&2
    fail "polkitd could not be installed in the fresh root"
    return
  fi
  # polkitd's own bus policy (only its user owns its name) came with the package.
  busctl --address="$address" call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus ReloadConfig \
    >/dev/null 2>&1 || true
  chroot "$fresh" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /usr/lib/polkit-1/polkitd --no-debug \
      >"$work/polkitd.out" 2>&1 &
  root_pids="$root_pids $!"
  tries=0
  until busctl --address="$address" status org.freedesktop.PolicyKit1 >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ]; then
      cat "$work/polkitd.out" >&2
      fail "polkitd did not take org.freedesktop.PolicyKit1 in the fresh root within a minute"
      return
    fi
    sleep 0.1
  done
  out=""
  for id in $(in_root pkaction 2>/dev/null | grep '^org\.qxraidgui\.' | sort); do
    any=$(in_root pkaction --verbose --action-id "$id" | sed -n 's/^ *implicit any: *//p' || true)
    inactive=$(in_root pkaction --verbose --action-id "$id" | sed -n 's/^ *implicit inactive: *//p' || true)
    active=$(in_root pkaction --verbose --action-id "$id" | sed -n 's/^ *implicit active: *//p' || true)
    out="$out${out:+$'\n'}$id $any $inactive $active"
  done
  if [ "$out" != "$expected_defaults" ]; then
    printf 'pkaction in the fresh root:\n%s\nexpected:\n%s\n' "$out" "$expected_defaults" >&2
    fail "polkitd does not read the installed actions with the documented defaults"
  else
    printf '%s\n' "$out"
  fi
  # The README's example rule, word for word.
  mkdir -p "$fresh/etc/polkit-1/rules.d"
  cat >"$fresh/etc/polkit-1/rules.d/50-raid-gui.rules" <<'RULES'
polkit.addRule(function(action, subject) {
    if (action.id == "org.qxraidgui.monitor1.upgrade-firmware" && subject.isInGroup("adm"))
        return polkit.Result.YES;
});
RULES
  in_root useradd --no-create-home --groups adm raid-admin >/dev/null 2>&1 &&
    in_root useradd --no-create-home raid-user >/dev/null 2>&1 ||
    { fail "could not add the test users to the fresh root"; return; }
  # pkcheck asks about itself ($$ is its own process after exec), as the given user.
  as_user_pkcheck() {
    local uid gid
    uid=$(in_root id -u "$1") gid=$(in_root id -g "$1")
    chroot --userspec="$uid:$gid" --groups="$(in_root id -G "$1" | tr ' ' ,)" "$fresh" \
      env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/sh -c \
      'exec pkcheck --action-id org.qxraidgui.monitor1.upgrade-firmware --process $$' >/dev/null 2>&1
  }
  # polkitd notices a new rules file by itself, a moment later.
  tries=0
  until as_user_pkcheck raid-admin; do
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ]; then
      fail "the rules file did not let a member of adm upgrade firmware without a password"
      break
    fi
    sleep 0.2
  done
  rc=0
  as_user_pkcheck raid-user || rc=$?
  [ "$rc" -ne 0 ] || fail "with the adm rule, a user outside adm may upgrade firmware too"
  [ "$tries" -gt 300 ] || echo "adm rule: raid-admin allowed, raid-user refused (pkcheck exit $rc)"
}

root_pids=""
if [ "${RAID_SKIP_FRESH_INSTALL:-0}" = 1 ]; then
  step "fresh install skipped (RAID_SKIP_FRESH_INSTALL=1)"
elif [ "$(id -u)" -ne 0 ] || ! command -v debootstrap >/dev/null 2>&1; then
  step "fresh install: needs root and debootstrap"
  fallback_run
else
  step "fresh Debian 12 root"
  # The marker tells a root this script made from any other folder given as the cache,
  # which is never deleted or copied.
  marker=.raid-gui-debian12-root
  if [ -e "$root_cache" ] && [ ! -e "$root_cache/$marker" ] &&
     [ -n "$(ls -A "$root_cache" 2>/dev/null || echo x)" ]; then
    fail "$root_cache is not a root made by check-packages.sh; not touching it"
  elif [ ! -e "$root_cache/$marker" ]; then
    # Built once beside the build, then only copied: the cache is never installed into.
    mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
    mirror=${mirror:-http://deb.debian.org/debian}
    tmp_root=$root_cache.tmp
    [ ! -e "$tmp_root" ] || [ -e "$tmp_root/$marker.partial" ] ||
      { fail "$tmp_root is in the way"; tmp_root=""; }
    if [ -n "$tmp_root" ]; then
      rm -rf --one-file-system "$tmp_root"
      mkdir -p "$tmp_root"
      : >"$tmp_root/$marker.partial"
      if debootstrap --variant=minbase bookworm "$tmp_root" "$mirror" >"$work/debootstrap.log" 2>&1 &&
         cp /etc/resolv.conf "$tmp_root/etc/resolv.conf" &&
         chroot "$tmp_root" apt-get update -qq >>"$work/debootstrap.log" 2>&1; then
        mv "$tmp_root/$marker.partial" "$tmp_root/$marker"
        rmdir "$root_cache" 2>/dev/null || true
        mv "$tmp_root" "$root_cache"
      else
        tail -20 "$work/debootstrap.log" >&2
        rm -rf --one-file-system "$tmp_root"
        echo "debootstrap failed"
      fi
    fi
  fi
  if [ "$failed" -eq 0 ] && [ -e "$root_cache/$marker" ] && [ -x "$root_cache/usr/bin/apt-get" ]; then
    fresh=$(mktemp -d "$(dirname "$root_cache")/debian12-run.XXXXXX")
    cp -a "$root_cache/." "$fresh/"
    rm -f "$fresh/$marker"
    cp /etc/resolv.conf "$fresh/etc/resolv.conf"
    mount -t proc proc "$fresh/proc" 2>/dev/null || true
    mkdir -p "$fresh/tmp/debs"
    cp "${debs[@]}" "$fresh/tmp/debs/"
    in_root() { chroot "$fresh" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

    step "apt-get install ./raid-gui-monitor_*.deb"
    if ! in_root apt-get install -y -qq --no-install-recommends "/tmp/debs/$(basename "$monitor_deb")" \
         >"$work/install.log" 2>&1; then
      tail -30 "$work/install.log" >&2
      fail "apt-get install of raid-gui-monitor failed on a fresh Debian 12"
    else
      grep -E '^(Setting up|Unpacking) ' "$work/install.log" || true
      check_status in_root /usr/sbin/raid-gui-monitor
      [ -L "$fresh/etc/systemd/system/multi-user.target.wants/raid-gui-monitor.service" ] ||
        fail "the service was not enabled on installation"
      if in_root /usr/sbin/raid-gui-monitor --help 2>&1 | grep -q -- '--bus'; then
        check_on_system_bus
      else
        echo "(the installed service takes no --bus yet: not started on a system bus)"
      fi
      if [ ${#gui_debs[@]} -eq 1 ]; then
        # The window's dependencies (Qt) are large; resolving them is enough.
        in_root apt-get install -s -qq "/tmp/debs/$(basename "${gui_debs[0]}")" >"$work/gui.log" 2>&1 ||
          { tail -20 "$work/gui.log" >&2; fail "raid-gui's dependencies do not resolve on Debian 12"; }
      fi
      step "apt-get purge raid-gui-monitor"
      in_root apt-get purge -y -qq raid-gui-monitor >"$work/purge.log" 2>&1 ||
        { tail -20 "$work/purge.log" >&2; fail "purging raid-gui-monitor failed"; }
      [ ! -e "$fresh/usr/sbin/raid-gui-monitor" ] || fail "purge left /usr/sbin/raid-gui-monitor"
    fi
  else
    fallback_run
  fi
fi

step "done"
if [ "$failed" -ne 0 ]; then
  echo "check-packages.sh: FAILED" >&2
  exit 1
fi
echo "check-packages.sh: all checks passed"
