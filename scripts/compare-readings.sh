#!/usr/bin/env bash
# Compares two `orbel-catalogue --json` readings of the same Wine prefix: the
# Windows program's of the live registry and the Linux program's of the
# prefix's system.reg. Exits 0 only when both readings are whole (a complete
# summary line last, as many class lines as it counts, at least one) and
# equal line for line, allowing:
#  - the summary in other letter case (Wine gives the computer's name in
#    capitals);
#  - the last change of a class key that has no values of its own in
#    system.reg: Wine keeps that key's time in memory but does not write the
#    key, so the Linux side says <Unknown> and a lastWrite of null. At most
#    maxTimeless such rows pass.
# Prints "N lines, N differ in the last change of a key without values, N
# otherwise"; each difference goes to REPORT (default /dev/null).
#
# Usage: compare-readings.sh WINDOWS.jsonl LINUX.jsonl SYSTEM.REG [REPORT]
set -euo pipefail
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  echo "usage: $0 WINDOWS.jsonl LINUX.jsonl SYSTEM.REG [REPORT]" >&2
  exit 2
fi
for file in "$1" "$2" "$3"; do
  if [ ! -r "$file" ]; then
    echo "$file: cannot be read" >&2
    exit 1
  fi
done

# Every file is read with getline by name, so that an empty one is seen as
# empty (awk's NR == FNR would take the next file for it).
exec awk -v windowsFile="$1" -v linuxFile="$2" -v registryFile="$3" -v report="${4:-/dev/null}" '
  # Reads a reading into lines[1..n]; answers n, or -1 when it is not whole.
  function readReading(file, lines, what,    n, line, summaries, entries) {
    n = 0
    summaries = 0
    while ((getline line < file) > 0) {
      lines[++n] = line
      if (index(line, "{\"summary\"") == 1) summaries++
    }
    close(file)
    if (n < 2) { print what " reading has " n " lines: no class and summary"; return -1 }
    if (summaries != 1 || index(lines[n], "{\"summary\"") != 1) {
      print what " reading does not end with its one summary line"; return -1
    }
    if (index(lines[n], "\"status\":\"complete\"") == 0) {
      print what " reading is not complete"; return -1
    }
    entries = lines[n]
    if (!sub(/.*"entries":/, "", entries)) { print what " summary counts no entries"; return -1 }
    sub(/[^0-9].*/, "", entries)
    if (entries + 0 != n - 1) {
      print what " reading has " n - 1 " class lines, its summary counts " entries; return -1
    }
    return n
  }

  BEGIN {
    # Seven class keys of a fresh Wine 8 prefix have no values of their own;
    # a few more after an update is plausible, hundreds means the Linux
    # reader lost the times.
    maxTimeless = 7
    classes = "^Software\\\\\\\\Classes\\\\\\\\CLSID\\\\\\\\"

    # The class keys of system.reg with values of their own, and every class
    # that has a key at all (its own or a subkey), by upper-case GUID.
    key = ""
    while ((status = getline line < registryFile) > 0) {
      if (substr(line, 1, 1) == "[") {
        key = ""
        path = line
        sub(/^\[/, "", path)
        sub(/\][ 0-9]*$/, "", path)
        if (path ~ classes) {
          sub(classes, "", path)
          guid = path
          sub(/\\.*/, "", guid)
          present[toupper(guid)] = 1
          if (guid == path) key = toupper(guid)
        }
      } else if (key != "" && (substr(line, 1, 1) == "@" || substr(line, 1, 1) == "\"")) {
        valued[key] = 1
      }
    }
    close(registryFile)
    if (status < 0) { print registryFile ": cannot be read"; exit 1 }

    nw = readReading(windowsFile, windows, "the Windows")
    nl = readReading(linuxFile, linux, "the Linux")
    if (nw < 0 || nl < 0) exit 1
    bad = 0
    times = 0
    if (nw != nl) { print "the readings have " nw " and " nl " lines"; bad++ }
    n = nw < nl ? nw : nl
    for (i = 1; i <= n; i++) {
      w = windows[i]
      l = linux[i]
      if (w == l) continue
      if (i == n && tolower(w) == tolower(l)) continue
      timeless = w
      gsub(/\["Last change","[^"]*"\]/, "[\"Last change\",\"<Unknown>\"]", timeless)
      gsub(/"lastWrite":"[^"]*"/, "\"lastWrite\":null", timeless)
      split(l, field, "\"")
      guid = toupper(field[4])
      if (timeless == l && field[2] == "guid" && present[guid] && !valued[guid]) {
        print "last change only: " field[4] > report
        times++
        continue
      }
      print "differs: " l > report
      bad++
    }
    if (times > maxTimeless) {
      print times " rows differ in the last change only, more than the " maxTimeless " allowed"
      bad++
    }
    print "  " nl " lines, " times " differ in the last change of a key without values, " bad " otherwise"
    exit (bad > 0)
  }'
