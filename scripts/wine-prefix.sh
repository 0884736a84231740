#!/usr/bin/env bash
# Makes the 64-bit Wine prefix named by the first argument, unless it holds a
# registry already, and waits until Wine has written it out.
set -euo pipefail
prefix="$1"
wine64=$(command -v wine64 || true)
if [ -z "$wine64" ] && [ -x /usr/lib/wine/wine64 ]; then wine64=/usr/lib/wine/wine64; fi
if [ -z "$wine64" ]; then
  echo "wine64 not found" >&2
  exit 1
fi
if [ -f "$prefix/system.reg" ]; then exit 0; fi
echo "=== Making the Wine prefix $prefix ==="
mkdir -p "$prefix"
# No Mono or Gecko prompts while the prefix is made.
WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  "$wine64" wineboot --init >/dev/null 2>&1
WINEPREFIX="$prefix" wineserver -w
[ -f "$prefix/system.reg" ]
