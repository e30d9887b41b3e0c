#!/usr/bin/env bash
# Builds the Windows installer (the CMake target `installer`) and plays it through under
# Wine, in a fresh prefix of its own (BUILD/wine-installer) on a virtual display:
#
#   - a planted install folder (a link, a file) is refused;
#   - a silent install (/S, with /D= asking for another folder, which is not taken):
#     the files in Program Files, the Start-menu link, the log-on task, the entry in
#     Add/Remove Programs;
#   - the installed raid-gui.exe starts and shows its window ("RAID GUI v0.23.7-3...");
#     WM_CLOSE ends it (taskkill without /F posts WM_CLOSE to its windows);
#   - setup and uninstaller refuse (exit code 2) and change nothing while a RAID GUI
#     window is open (a copy from another folder: the mutex alone tells) and while the
#     installed console monitor runs (its file in use);
#   - with a day log, an alert text and a settings value in place, a second install
#     over the first keeps them, and a silent uninstall removes the programs, the link,
#     the task and the uninstall entry, and keeps them.
#
# Wine 8's task scheduler keeps a task's registration, description and settings but not
# its triggers, principal or actions (its reader stubs them and says so in its "fixme"
# trace, without their values): the task file is checked for what Wine keeps, the trace
# for the log-on trigger, the group principal, the run level and the command Wine was
# handed.
#
#   scripts/windows-installer.sh [BUILD]   BUILD: the Windows build folder (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
win=$(realpath "${1:-${RAID_WINDOWS_BUILD:-build-win}}")
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

fail() {
  echo "windows-installer: FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local bound=$1
  shift
  local start=$SECONDS
  until "$@"; do
    [ $((SECONDS - start)) -lt "$bound" ] || return 1
    sleep 0.5
  done
}

ninja -C "$win" installer >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win/CMakeCache.txt")
setup=$win/raid-gui-setup-$version.exe
[ -f "$setup" ] || fail "no $setup"
caption="RAID GUI v$version-3"

export WINEPREFIX=$win/wine-installer WINEDEBUG=-all
# No Mono or Gecko; no menu entries or file types for the desktop this runs on.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineserver -k 2>/dev/null || true
# Whatever still runs in the prefix ends with the script, also when a check fails.
trap 'wineserver -k 2>/dev/null || true' EXIT
rm -rf "$WINEPREFIX"
step "a fresh Wine prefix: $WINEPREFIX"
wineboot --init >/dev/null 2>&1
wineserver -w

c=$WINEPREFIX/drive_c
program="$c/Program Files/RAID GUI"
link="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/RAID GUI.lnk"
task="$c/windows/system32/tasks/RAID GUI"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\RAID GUI'
settings_key='HKLM\SOFTWARE\QX_RAID_GUI'
log=$win/wine-installer.log
: >"$log"

run_setup() { wine "$setup" /S "$@" 2>>"$log"; }
# The uninstaller in place (_?=, which takes no quotes), so that its exit code is its
# own: started plainly it copies itself to the temporary folder and ends at once.
run_uninstaller_in_place() {
  printf '@"C:\\Program Files\\RAID GUI\\uninstall.exe" /S _?=C:\\Program Files\\RAID GUI\r\n@exit /b %%ERRORLEVEL%%\r\n' \
    >"$c/uninstall-in-place.bat"
  wine cmd /c 'C:\uninstall-in-place.bat' 2>>"$log"
}
utf16() { iconv -f UTF-16 -t UTF-8 "$1" 2>/dev/null || cat "$1"; }
key_exists() { wine reg query "$1" /reg:64 >/dev/null 2>&1; }

step "a planted install folder is refused"
for planted in link file; do
  mkdir -p "$c/Program Files" "$win/wine-installer-elsewhere"
  if [ $planted = link ]; then ln -s "$win/wine-installer-elsewhere" "$program"; else echo planted >"$program"; fi
  rc=0
  run_setup || rc=$?
  [ $rc -eq 2 ] || fail "setup over a planted $planted: exit code $rc, not 2"
  [ -z "$(ls -A "$win/wine-installer-elsewhere")" ] || fail "setup wrote through a planted link"
  rm -rf "$program" "$win/wine-installer-elsewhere"
done

step "silent install"
rc=0
WINEDEBUG=fixme+taskschd run_setup '/D=C:\Planted' || rc=$?
[ $rc -eq 0 ] || fail "setup /S: exit code $rc"
[ ! -e "$c/Planted" ] || fail "/D= was followed"
for f in raid-gui.exe raid-gui-monitor.exe README.txt LICENCE.txt uninstall.exe; do
  [ -f "$program/$f" ] || fail "not installed: $f"
done
cmp -s "$program/raid-gui.exe" "$win/resources/installer/raid-gui.exe" || fail "raid-gui.exe differs from the build's"
grep -q "RAID GUI v$version-3" "$program/README.txt" || fail "README.txt without the version"
[ -f "$link" ] || fail "no Start-menu link"
strings -a "$link" | grep -qF 'C:\Program Files\RAID GUI\raid-gui.exe' || fail "the link does not start raid-gui.exe"
[ -f "$task" ] || fail "no scheduled task"
definition=$(utf16 "$task")
for kept in "Starts RAID GUI when a user logs on." "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>" \
  "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>" "<Priority>4</Priority>"; do
  grep -qF "$kept" <<<"$definition" || fail "the task lacks $kept"
done
for handed in 'unhandled Task element L"LogonTrigger"' 'unhandled Principal element L"GroupId"' \
  'unhandled RunLevel L"HighestAvailable"' 'unhandled Task element L"Command"'; do
  grep -qF "$handed" "$log" || fail "the task was not handed $handed"
done
entry=$(wine reg query "$uninstall_key" /reg:64 2>/dev/null) || fail "no uninstall entry"
for value in "DisplayName    REG_SZ    RAID GUI" "DisplayVersion    REG_SZ    v$version-3" \
  'UninstallString    REG_SZ    "C:\Program Files\RAID GUI\uninstall.exe"'; do
  grep -qF "$value" <<<"$entry" || fail "the uninstall entry lacks $value"
done

window_shown() { xdotool search --name "^${caption//./\\.}" >/dev/null 2>&1; }
# Starts raid-gui.exe (a Windows path) and waits for its window.
open_window() {
  wine "$1" 2>>"$log" &
  gui=$!
  wait_for 120 window_shown || fail "no window \"$caption...\" within 120 s"
}
# WM_CLOSE: taskkill without /F posts it to the program's windows; the program ends when
# the engine grants the close.
gui_ended() { ! kill -0 "$gui" 2>/dev/null; }
close_window() {
  wine taskkill /IM raid-gui.exe >>"$log" 2>&1 || fail "taskkill"
  wait_for 120 gui_ended || fail "raid-gui.exe still runs 120 s after WM_CLOSE"
  local rc=0
  wait "$gui" || rc=$?
  [ $rc -eq 0 ] || fail "raid-gui.exe ended with $rc"
}
# Setup and uninstaller end with exit code 2 and change nothing while $1.
refused_while() {
  local rc=0
  run_setup || rc=$?
  [ $rc -eq 2 ] || fail "setup while $1: exit code $rc, not 2"
  rc=0
  run_uninstaller_in_place || rc=$?
  [ $rc -eq 2 ] || fail "uninstaller while $1: exit code $rc, not 2"
  if ! { [ -f "$program/raid-gui.exe" ] && [ -f "$program/uninstall.exe" ] && [ -f "$link" ] && [ -f "$task" ] &&
    key_exists "$uninstall_key"; }; then
    fail "something was removed while $1"
  fi
}

step "the installed raid-gui.exe shows its window; WM_CLOSE ends it"
open_window 'C:\Program Files\RAID GUI\raid-gui.exe'
echo "   $(xdotool getwindowname "$(xdotool search --name "^${caption//./\\.}" | head -1)")"
close_window

step "setup and uninstaller refuse while a RAID GUI window is open (its mutex)"
# A copy started from another folder: only the mutex tells that it runs.
mkdir -p "$c/elsewhere"
cp "$program/raid-gui.exe" "$c/elsewhere/"
open_window 'C:\elsewhere\raid-gui.exe'
refused_while "a RAID GUI window is open"
close_window

step "setup and uninstaller refuse while the console monitor runs (its file in use)"
wine 'C:\Program Files\RAID GUI\raid-gui-monitor.exe' >"$win/wine-installer-monitor.out" 2>>"$log" &
monitor=$!
monitor_watching() { grep -q "RAID GUI v$version-3" "$win/wine-installer-monitor.out"; }
wait_for 120 monitor_watching || fail "raid-gui-monitor.exe did not start watching within 120 s"
refused_while "raid-gui-monitor.exe runs"
wine taskkill /F /IM raid-gui-monitor.exe >>"$log" 2>&1 || fail "taskkill /F raid-gui-monitor.exe"
monitor_ended() { ! kill -0 "$monitor" 2>/dev/null; }
wait_for 120 monitor_ended || fail "raid-gui-monitor.exe still runs 120 s after taskkill /F"
wait "$monitor" || true

step "what the program keeps survives a second install and the uninstaller"
printf 'D1 HDD2 was removed, 12/10/2026 09:00:00\r\n' >"$program/261210.log"
printf 'Disk alert\r\n' >"$program/EmailSubject Hard Disks Fail.txt"
wine reg add "$settings_key" /v SMTP /t REG_SZ /d mail.example.org /f /reg:64 >/dev/null 2>>"$log"
rc=0
run_setup || rc=$?
[ $rc -eq 0 ] || fail "setup over an installed copy: exit code $rc"
rc=0
wine "$program/uninstall.exe" /S 2>>"$log" || rc=$?
[ $rc -eq 0 ] || fail "uninstall.exe /S: exit code $rc"
# It goes on as a copy of itself in the temporary folder: wait until Wine has nothing left.
timeout 120 wineserver -w || fail "the uninstaller did not end within 120 s"
for f in raid-gui.exe raid-gui-monitor.exe README.txt LICENCE.txt uninstall.exe; do
  [ ! -e "$program/$f" ] || fail "left behind: $f"
done
[ ! -e "$link" ] || fail "the Start-menu link is left"
[ ! -e "$task" ] || fail "the scheduled task is left"
! key_exists "$uninstall_key" || fail "the uninstall entry is left"
[ "$(cat "$program/261210.log")" = $'D1 HDD2 was removed, 12/10/2026 09:00:00\r' ] || fail "the day log is gone"
[ -f "$program/EmailSubject Hard Disks Fail.txt" ] || fail "the alert text is gone"
wine reg query "$settings_key" /v SMTP /reg:64 2>/dev/null | grep -qF mail.example.org || fail "the settings are gone"

echo "windows-installer: the installer installs, starts RAID GUI and uninstalls"
