#!/usr/bin/env bash
# The headless simulator on Linux and under Wine, compared: the built-in default and every
# scenario in docs/scenarios/ and in tests/ are played by both with the same arguments,
# from the same files, in the same time zone. Standard output must be equal once CR LF is
# read as LF, exit status equal, and every file of the day log folder (day logs, flash
# copies) and the flash dump byte-identical. Prints the first difference of each case
# and exits 1 when there is any.
#
# One thing differs by design: a failure the system itself reports (a mail server that
# refuses the connection) is in the system's own words, Windows' on Windows. Those texts
# are read as the Linux words before comparing (windows_words below); nothing else is.
#
#   scripts/compare-sim.sh LINUX_SIM WINDOWS_SIM_EXE SIM_FIXTURES_EXE
#
# Wine runs with the caller's WINEPREFIX and WINEDEBUG (scripts/windows.sh sets both).
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 LINUX_SIM WINDOWS_SIM_EXE SIM_FIXTURES_EXE" >&2
  exit 2
fi
src=$(cd "$(dirname "$0")/.." && pwd)
linux_sim=$(realpath "$1")
win_sim=$(realpath "$2")
fixtures=$(realpath "$3")
wine=$(command -v wine || command -v wine64)
for f in "$linux_sim" "$win_sim" "$fixtures"; do
  [ -f "$f" ] || { echo "compare-sim: $f is missing" >&2; exit 2; }
done

work=$(mktemp -d /tmp/raid-compare-sim-XXXXXX)
trap 'rm -rf "$work"' EXIT
export TZ=UTC0

# The files the scenarios name beside them: the documented records, the test suite's own
# records (written by the Windows build: both sides read the same bytes), firmware images
# (written by both, which must agree too), a file far too short for an image.
files=$work/files
mkdir -p "$files"
cp "$src"/docs/scenarios/*.bin "$files"/
(cd "$files" && "$wine" "$fixtures" .)
failed=0
for n in 2 5; do
  (cd "$files" && "$linux_sim" --write-image "fw$n.bin" "$n" && "$wine" "$win_sim" --write-image "win-fw$n.bin" "$n")
  if ! cmp "$files/fw$n.bin" "$files/win-fw$n.bin"; then
    echo "DIFFERENT: --write-image $n"
    failed=1
  fi
  rm -f "$files/win-fw$n.bin"
done
printf 'FIPS, but far too short' >"$files/short.bin"
cp "$files/fw5.bin" "$files/fw.bin"

# One case: name, scenario file ("" for the built-in default).
cases=("default|")
while IFS= read -r f; do
  cases+=("$(basename "$(dirname "$f")")-$(basename "$f" .scenario)|$f")
done < <(cd "$src" && find docs/scenarios tests -name '*.scenario' | sort)

# Windows' words for the socket errors a scenario can meet, as Linux says them (Wine's
# own texts end in a full stop).
windows_words() {
  sed -i -e 's/No connection could be made because the target machine actively refused it\./Connection refused/g' \
    -e 's/Connection refused\./Connection refused/g' \
    -e 's/No such host is known\./Name or service not known/g' "$1"
}

# The first line where two text files differ, as "line N: <linux> | <windows>".
first_line_difference() {
  awk 'NR == FNR { a[FNR] = $0; n = FNR; next }
       { m = FNR; if (!(FNR in a) || a[FNR] != $0) { printf "line %d:\n  linux:   %s\n  windows: %s\n", FNR, (FNR in a) ? a[FNR] : "<none>", $0; found = 1; exit } }
       END { if (!found && n != m) printf "line %d:\n  linux:   %s\n  windows: <none>\n", m + 1, a[m + 1] }' "$1" "$2"
}

compared=0
for c in "${cases[@]}"; do
  name=${c%%|*}
  scenario=${c#*|}
  args=(--headless --start 2026-12-07T10:00:00 --log-dir ./logs --settings ./settings.reg --latency-us 200)
  until_s=60
  if [ -n "$scenario" ]; then
    args+=(--scenario "$(basename "$scenario")")
    # Up to a minute past the scenario's last step, in virtual time.
    last=$(awk '$1 ~ /^[0-9]+(\.[0-9]+)?$/ { if ($1 + 0 > m) m = $1 + 0 } END { printf "%d", m }' "$src/$scenario")
    until_s=$((last + 60))
    # A scenario that upgrades or replaces the flash of drive 1 has it dumped at the end.
    if grep -Eq '^[[:space:]]*[0-9.]+[[:space:]]+(upgrade|flash|flipbit)[[:space:]]' "$src/$scenario"; then
      args+=(--dump-flash 1 ./flash-dump.bin)
    fi
  fi
  args+=(--until "$until_s")
  for side in linux windows; do
    d=$work/$name/$side
    mkdir -p "$d/logs"
    cp "$files"/* "$d"/
    [ -z "$scenario" ] || cp "$src/$scenario" "$d"/
    set +e
    if [ $side = linux ]; then
      (cd "$d" && "$linux_sim" "${args[@]}" >stdout.txt 2>stderr.txt)
    else
      (cd "$d" && "$wine" "$win_sim" "${args[@]}" >stdout.raw 2>stderr.txt)
    fi
    echo $? >"$d/status.txt"
    set -e
    if [ $side = windows ]; then
      sed 's/\r$//' "$d/stdout.raw" >"$d/stdout.txt"
      windows_words "$d/stdout.txt"
      find "$d/logs" -type f -name '*.log' | while IFS= read -r f; do windows_words "$f"; done
    fi
  done
  l=$work/$name/linux
  w=$work/$name/windows
  problems=()
  cmp -s "$l/status.txt" "$w/status.txt" ||
    problems+=("exit status: linux $(cat "$l/status.txt"), windows $(cat "$w/status.txt")")
  cmp -s "$l/stdout.txt" "$w/stdout.txt" ||
    problems+=("standard output differs at $(first_line_difference "$l/stdout.txt" "$w/stdout.txt")")
  lf=$(cd "$l/logs" && find . -type f | sort)
  wf=$(cd "$w/logs" && find . -type f | sort)
  if [ "$lf" != "$wf" ]; then
    problems+=("log folder files: linux [$(echo $lf)], windows [$(echo $wf)]")
  fi
  while IFS= read -r f; do
    [ -n "$f" ] && [ -f "$w/logs/$f" ] || continue
    if ! cmp -s "$l/logs/$f" "$w/logs/$f"; then
      case $f in
        *.log) problems+=("$f differs at $(first_line_difference "$l/logs/$f" "$w/logs/$f")") ;;
        *) problems+=("$f: $(cmp "$l/logs/$f" "$w/logs/$f" 2>&1 || true)") ;;
      esac
    fi
  done <<<"$lf"
  if [ -e "$l/flash-dump.bin" ] || [ -e "$w/flash-dump.bin" ]; then
    cmp -s "$l/flash-dump.bin" "$w/flash-dump.bin" ||
      problems+=("flash dump: $(cmp "$l/flash-dump.bin" "$w/flash-dump.bin" 2>&1 || true)")
  fi
  compared=$((compared + 1))
  if [ ${#problems[@]} -eq 0 ]; then
    dump=""
    [ ! -e "$l/flash-dump.bin" ] || dump=", flash dump"
    echo "same: $name ($(wc -l <"$l/stdout.txt") lines, $(echo "$lf" | grep -c . || true) log files$dump, exit $(cat "$l/status.txt"))"
  else
    failed=1
    echo "DIFFERENT: $name (raid-gui-sim ${args[*]})"
    for p in "${problems[@]}"; do echo "  $p"; done
    [ ! -s "$w/stderr.txt" ] || { echo "  windows stderr:"; head -5 "$w/stderr.txt" | sed 's/^/    /'; }
  fi
done
echo "compare-sim: $compared runs compared on Linux and under Wine"
exit $failed
