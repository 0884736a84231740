#!/usr/bin/env bash
# Runs scripts/compare-readings.sh (the first argument) on tiny readings with
# every awk installed: only whole, equal readings pass, with at most seven
# rows differing in the last change of a key that has no values. An empty
# Windows reading used to pass, awk taking the Linux file for the first.
set -uo pipefail
compare="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The prefix: {V} has values of its own; {E1}..{E7} have only subkeys (Wine
# writes no line for such a key), {E8} a key line but no values; {X} is not
# there at all.
{
  printf 'WINE REGISTRY Version 2\n\n'
  printf '[Software\\\\Classes\\\\CLSID\\\\{V}] 1700000000\n#time=1\n@="Valued"\n\n'
  for i in 1 2 3 4 5 6 7; do
    printf '[Software\\\\Classes\\\\CLSID\\\\{E%s}\\\\InprocServer32] 1700000000\n@="e.dll"\n\n' "$i"
  done
  printf '[Software\\\\Classes\\\\CLSID\\\\{E8}] 1700000000\n#time=1\n\n'
  printf '[Software\\\\Classes\\\\CLSID\\\\{E8}\\\\ProgID] 1700000000\n@="E.8"\n\n'
} >"$work/system.reg"

# A reading: the computer's name, then GUID:TIME per class ("-" for none).
reading() {
  local computer="$1" count=0 guid time
  shift
  for class in "$@"; do
    guid=${class%%:*} time=${class#*:}
    if [ "$time" = - ]; then
      printf '{"guid":"{%s}","name":"n","rows":[["Last change","<Unknown>"]],"lastWrite":null}\n' "$guid"
    else
      printf '{"guid":"{%s}","name":"n","rows":[["Last change","%s"]],"lastWrite":"%s"}\n' "$guid" "$time" "$time"
    fi
    count=$((count + 1))
  done
  printf '{"summary":{"computer":"%s","status":"complete","classKeys":%s,"entries":%s}}\n' \
    "$computer" "$count" "$count"
}
seven=(E1 E2 E3 E4 E5 E6 E7)
reading VM V:t1 "${seven[@]/%/:t2}" >"$work/windows"
reading vm V:t1 "${seven[@]/%/:-}" >"$work/linux"
reading VM V:t1 "${seven[@]/%/:t2}" E8:t2 >"$work/windows-8"
reading vm V:t1 "${seven[@]/%/:-}" E8:- >"$work/linux-8"
reading vm V:- "${seven[@]/%/:t2}" >"$work/linux-valued-timeless"
reading VM V:t1 X:t3 >"$work/windows-unknown-class"
reading vm V:t1 X:- >"$work/linux-unknown-class"
reading vm V:t1 "${seven[@]/%/:t2}" >"$work/linux-equal"
reading vm V:t1 "${seven[@]/%/:-}" | sed '2d' | sed 's/"entries":8/"entries":7/' >"$work/linux-shorter"
reading vm V:t1 "${seven[@]/%/:t2}" E8:t2 | sed 's/"name":"n"/"name":"other"/' >"$work/linux-differs"
head -n -1 "$work/windows" >"$work/windows-no-summary"
sed '2d' "$work/windows" >"$work/windows-line-lost"
reading VM >"$work/windows-no-class"
reading vm >"$work/linux-no-class"
sed 's/"complete"/"interrupted"/' "$work/linux" >"$work/linux-interrupted"
: >"$work/empty"

cases=(
  # expected status, Windows reading, Linux reading
  "0 windows linux"
  "0 windows linux-equal"
  "1 empty linux"
  "1 windows empty"
  "1 empty empty"
  "1 windows-no-summary linux"
  "1 windows-line-lost linux"
  "1 windows linux-shorter"
  "1 windows-no-class linux-no-class"
  "1 windows linux-interrupted"
  "1 windows-8 linux-8"
  "1 windows linux-valued-timeless"
  "1 windows-unknown-class linux-unknown-class"
  "1 windows-8 linux-differs"
)

awks=()
for name in mawk gawk original-awk busybox; do
  if command -v "$name" >/dev/null; then awks+=("$name"); fi
done
[ "${#awks[@]}" -gt 0 ] || awks=(awk)
failures=0
for name in "${awks[@]}"; do
  mkdir -p "$work/$name"
  if [ "$name" = busybox ]; then
    printf '#!/bin/sh\nexec busybox awk "$@"\n' >"$work/$name/awk"
    chmod +x "$work/$name/awk"
  else
    ln -sf "$(command -v "$name")" "$work/$name/awk"
  fi
  for c in "${cases[@]}"; do
    read -r expected windows linux <<<"$c"
    output=$(PATH="$work/$name:$PATH" "$compare" "$work/$windows" "$work/$linux" "$work/system.reg" 2>&1)
    status=$?
    if [ "$status" -ne "$expected" ]; then
      echo "$name: $windows against $linux: status $status, expected $expected"
      echo "$output"
      failures=$((failures + 1))
    fi
  done
  output=$(PATH="$work/$name:$PATH" "$compare" "$work/windows" "$work/linux" "$work/system.reg")
  if [ "$output" != "  9 lines, 7 differ in the last change of a key without values, 0 otherwise" ]; then
    echo "$name: the counts of the allowed comparison: $output"
    failures=$((failures + 1))
  fi
done
echo "${awks[*]}: ${#cases[@]} cases, $failures failed"
[ "$failures" -eq 0 ]
