#!/usr/bin/env bash
# Cross-builds the core libraries, their GoogleTest suites, orbel-catalogue
# and the object test's helper for 64-bit Windows with mingw-w64 (no Qt, no
# libhivex), runs each suite under Wine, then proves the Windows services
# against Wine's own: the catalogue read through advapi32 from the prefix's
# live registry equals the Linux program's reading of its system.reg, and
# Test Object creates an object through the helper on both sides. Ends with
# "N passed, N failed, N skipped"; exits non-zero when anything failed.
# Installs what is missing first.
#
# The window, orbel.exe, needs Qt built for Windows (scripts/qt-mingw.sh).
# When that Qt is complete, the check also cross-builds orbel.exe and the
# window's Qt Test suites, runs the suites under Wine (offscreen platform) and
# starts orbel.exe under Wine on the prefix's live registry, taking its
# pictures (scripts/windows-screenshots.sh) into the build folder.
#
#   scripts/windows-check.sh [--window | --no-window]
#
# --window builds that Qt first when it is missing (30 to 60 minutes);
# --no-window leaves the window out even when the Qt is there.
#
# Environment: ORBEL_WINEPREFIX (default /tmp/orbel-wine-ci) is the Wine
# prefix, made on first use; ORBEL_WINDOWS_BUILD (default build-windows) the
# build folder; ORBEL_LINUX_CATALOGUE a Linux orbel-catalogue to compare with
# (built in $ORBEL_WINDOWS_BUILD-host when unset); ORBEL_QT_MINGW the Qt for
# Windows (default ~/.cache/orbel/qt-6.4.2-mingw).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

window=auto
for argument in "$@"; do
  case "$argument" in
    --window) window=yes ;;
    --no-window) window=no ;;
    *)
      echo "usage: scripts/windows-check.sh [--window | --no-window]" >&2
      exit 2
      ;;
  esac
done

scripts/install-deps.sh cmake make pkg-config g++-mingw-w64-x86-64-posix wine wine64 \
  googletest nlohmann-json3-dev libcli11-dev

qt="${ORBEL_QT_MINGW:-$HOME/.cache/orbel/qt-6.4.2-mingw}"
if [ "$window" = yes ]; then ORBEL_QT_MINGW="$qt" scripts/qt-mingw.sh; fi
if [ "$window" != no ] && [ -f "$qt/orbel-qt-complete" ]; then window=yes; else window=no; fi
# Without the window, Qt is not even looked for: no Qt of the build machine
# may stand in.
qt_options=(-DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON)
ui_suites=()
if [ "$window" = yes ]; then
  scripts/install-deps.sh qt6-base-dev qt6-base-dev-tools librsvg2-bin fonts-wine \
    xvfb xauth xdotool x11-apps imagemagick
  qt_options=(-DCMAKE_DISABLE_FIND_PACKAGE_Qt6=OFF -DORBEL_QT_MINGW="$qt" -DCMAKE_PREFIX_PATH="$qt"
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
  for source in tests/ui/*.cpp; do
    name=${source##*/}
    ui_suites+=("ui_${name%.cpp}")
  done
fi

build="${ORBEL_WINDOWS_BUILD:-build-windows}"
suites=(platform_tests registry_tests tools_tests model_tests catalogue_tests cli_tests)
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

echo "=== Windows cross build ($build) ==="
cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DORBEL_GTEST_SOURCE=/usr/src/googletest \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DORBEL_WARNINGS_AS_ERRORS=ON "${qt_options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${suites[@]}" orbel-catalogue orbel-object-test
if [ "$window" = yes ]; then
  echo "=== The window, orbel.exe, and its suites ==="
  window_started=$SECONDS
  cmake --build "$build" -j"$(nproc)" --target orbel "${ui_suites[@]}"
  echo "window build: $((SECONDS - window_started)) s; orbel.exe: $(stat -c %s "$build/src/orbel.exe") bytes"
fi

linux="${ORBEL_LINUX_CATALOGUE:-}"
if [ -z "$linux" ]; then
  echo "=== Linux orbel-catalogue for the comparison ($build-host) ==="
  cmake -S . -B "$build-host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DORBEL_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build "$build-host" -j"$(nproc)" --target orbel-catalogue orbel-object-test
  linux="$build-host/src/orbel-catalogue"
fi

wine64=$(command -v wine64 || true)
if [ -z "$wine64" ] && [ -x /usr/lib/wine/wine64 ]; then wine64=/usr/lib/wine/wine64; fi
export WINEPREFIX="${ORBEL_WINEPREFIX:-/tmp/orbel-wine-ci}"
export WINEDEBUG=-all
export WINEARCH=win64
scripts/wine-prefix.sh "$WINEPREFIX"

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

if [ "$window" = yes ]; then
  echo "=== Window tests under Wine ==="
  # In a copy of the prefix: the windows keep their settings in the
  # registry's HKEY_CURRENT_USER, which the checks below read. The suites run
  # on the offscreen platform, as on Linux, with Wine's fonts; Wine passes no
  # QT_ variable to Windows programs but the WINEQT_ ones, renamed. The
  # report goes to a file: Qt Test's own output does not reach Wine's stdout.
  window_prefix="$(realpath -m "$build")/wine-window-prefix"
  rm -rf "$window_prefix"
  cp -a "$WINEPREFIX" "$window_prefix"
  for suite in "${ui_suites[@]}"; do
    log="$logs/$suite.log"
    status=0
    rm -f "$log"
    WINEPREFIX="$window_prefix" WINEQT_QPA_PLATFORM=offscreen \
      WINEQT_QPA_FONTDIR=/usr/share/wine/fonts \
      timeout 900 "$wine64" "$build/tests/$suite.exe" -o "Z:$(realpath -m "$log"),txt" \
      >"$logs/$suite.out" 2>&1 || status=$?
    touch "$log"
    totals=$(tr -d '\r' <"$log" | sed -n 's/^Totals: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped.*/\1 \2 \3/p' | tail -n 1)
    read -r suitePassed suiteFailed suiteSkipped <<<"${totals:-0 0 0}"
    if [ "$status" -ne 0 ] && [ "$suiteFailed" -eq 0 ]; then
      echo "$suite: ended with status $status before its summary; see $log"
      tail -n 20 "$log" "$logs/$suite.out"
      suiteFailed=1
    fi
    echo "$suite: $suitePassed passed, $suiteFailed failed, $suiteSkipped skipped"
    if [ "$suiteFailed" -ne 0 ]; then tr -d '\r' <"$log" | grep -E -A3 '^FAIL!' || true; fi
    passed=$((passed + suitePassed))
    failed=$((failed + suiteFailed))
    skipped=$((skipped + suiteSkipped))
  done
  WINEPREFIX="$window_prefix" wineserver -k 2>/dev/null || true
fi

echo "=== The Windows program against Wine ==="
proof() {  # name, then the command that proves it
  local name="$1"
  shift
  if "$@"; then
    echo "proof: $name: passed"
    passed=$((passed + 1))
  else
    echo "proof: $name: FAILED"
    failed=$((failed + 1))
  fi
}

# The same catalogue, row for row, from the live registry (advapi32 under
# Wine) and from system.reg (the Linux reader); scripts/compare-readings.sh
# says what may differ.
same_catalogue() {
  local windows="$logs/catalogue-windows.jsonl" unix="$logs/catalogue-linux.jsonl"
  "$wine64" "$build/src/orbel-catalogue.exe" --json | tr -d '\r' >"$windows" || return 1
  wineserver -w
  env -u ORBEL_REGISTRY "$linux" --json >"$unix" || return 1
  scripts/compare-readings.sh "$windows" "$unix" "$WINEPREFIX/system.reg" \
    "$logs/catalogue-differences.txt"
}
proof "live registry equals system.reg" same_catalogue

# Test Object of the Scripting.Dictionary class through the helper: under
# Wine with the Windows program, and from Linux through Wine.
dictionary="{EE09B103-97E0-11CF-978F-00A02463E06F}"
tests_object() {
  "$@" --test "$dictionary" | tr -d '\r' | grep -qx "The object 'Scripting.Dictionary' was succesfully created and seems to be OK."
}
proof "orbel-catalogue.exe --test creates Scripting.Dictionary" tests_object "$wine64" "$build/src/orbel-catalogue.exe"
proof "orbel-catalogue --test creates Scripting.Dictionary through Wine" tests_object env -u ORBEL_REGISTRY "$linux"

# orbel.exe on the prefix's live registry: the welcome question, the
# reading of this computer named in the title, an object's attributes with
# the icons ExtractIconW gives, another computer refused, the About box.
if [ "$window" = yes ]; then
  proof "orbel.exe reads this computer (pictures in $logs/screenshots)" \
    scripts/windows-screenshots.sh "$build" "$WINEPREFIX" "$logs/screenshots"
fi

wineserver -k 2>/dev/null || true
echo "Windows check: $((SECONDS - started)) s"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
