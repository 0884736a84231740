#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal
# build (warnings as errors) and once in an address+undefined sanitizer build,
# then the Windows check (scripts/windows-check.sh). One Wine prefix, made
# fresh for the run and removed after it, serves the Linux tests that read a
# prefix (ORBEL_TEST_WINEPREFIX) and the Windows check.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64

prefix=$(mktemp -d "${TMPDIR:-/tmp}/orbel-wine.XXXXXX")
cleanup() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
scripts/wine-prefix.sh "$prefix"
export ORBEL_TEST_WINEPREFIX="$prefix"

jobs=$(nproc)
for kind in release sanitize; do
  dir="build-test-$kind"
  options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBEL_WARNINGS_AS_ERRORS=ON)
  if [ "$kind" = sanitize ]; then
    options=(-DCMAKE_BUILD_TYPE=Debug -DORBEL_SANITIZE=ON -DORBEL_WARNINGS_AS_ERRORS=ON)
  fi
  echo "=== $kind build ==="
  cmake -S . -B "$dir" "${options[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "=== $kind tests ==="
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest --output-on-failure -j"$jobs" --timeout 300)
done

echo "=== Windows check ==="
ORBEL_WINEPREFIX="$prefix" ORBEL_LINUX_CATALOGUE=build-test-release/src/orbel-catalogue \
  scripts/windows-check.sh

echo "=== Hostile input bar ==="
bench/hostile_input_bar.py build-test-release/src/orbel-catalogue

echo "=== fuzz targets, 60 seconds each ==="
scripts/fuzz.sh 60
