#!/usr/bin/env bash
# Cross-builds the core libraries and their GoogleTest suites for 64-bit
# Windows with mingw-w64 (no Qt, no libhivex), runs each suite under Wine and
# ends with "N passed, N failed" over the test cases. Exits non-zero when a
# test fails or a suite does not finish. Installs what is missing first.
#
# Environment: ORBEL_WINEPREFIX (default /tmp/orbel-wine-ci) is the Wine
# prefix, made on first use; ORBEL_WINDOWS_BUILD (default build-windows) the
# build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake make pkg-config g++-mingw-w64-x86-64 wine wine64 \
  googletest nlohmann-json3-dev libcli11-dev

build="${ORBEL_WINDOWS_BUILD:-build-windows}"
suites=(platform_tests registry_tests tools_tests model_tests catalogue_tests cli_tests)

echo "=== Windows cross build ($build) ==="
cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DORBEL_GTEST_SOURCE=/usr/src/googletest \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORBEL_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${suites[@]}" orbel-catalogue

wine64=$(command -v wine64 || true)
if [ -z "$wine64" ] && [ -x /usr/lib/wine/wine64 ]; then wine64=/usr/lib/wine/wine64; fi
if [ -z "$wine64" ]; then
  echo "wine64 not found" >&2
  exit 1
fi
export WINEPREFIX="${ORBEL_WINEPREFIX:-/tmp/orbel-wine-ci}"
export WINEDEBUG=-all
# No Mono or Gecko prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== Making the Wine prefix $WINEPREFIX ==="
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot --init >/dev/null 2>&1
  wineserver -w 2>/dev/null || true
fi

echo "=== Core tests under Wine ==="
logs="$build/wine-logs"
mkdir -p "$logs"
passed=0
failed=0
skipped=0
count() {  # the number in GoogleTest's summary line "[  TAG  ] N test(s)"
  sed -n "s/^\[  *$1  *\] \([0-9][0-9]*\) tests\{0,1\}[,.].*/\1/p" "$2" | tail -n 1
}
for suite in "${suites[@]}"; do
  log="$logs/$suite.log"
  status=0
  timeout 900 "$wine64" "$build/tests/$suite.exe" --gtest_color=no >"$log" 2>&1 || status=$?
  suitePassed=$(count PASSED "$log")
  suiteFailed=$(count FAILED "$log")
  suiteSkipped=$(count SKIPPED "$log")
  suitePassed=${suitePassed:-0}
  suiteFailed=${suiteFailed:-0}
  suiteSkipped=${suiteSkipped:-0}
  if [ "$status" -ne 0 ] && [ "$suiteFailed" -eq 0 ]; then
    # Crashed or timed out before its summary: the suite counts as one failure.
    echo "$suite: ended with status $status before its summary; see $log"
    tail -n 20 "$log"
    suiteFailed=1
  fi
  echo "$suite: $suitePassed passed, $suiteFailed failed, $suiteSkipped skipped"
  if [ "$suiteFailed" -ne 0 ]; then grep -E '^\[  FAILED  \] [A-Za-z]' "$log" | sort -u || true; fi
  passed=$((passed + suitePassed))
  failed=$((failed + suiteFailed))
  skipped=$((skipped + suiteSkipped))
done
wineserver -k 2>/dev/null || true

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
