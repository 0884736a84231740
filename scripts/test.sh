#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal
# build (warnings as errors) and once in an address+undefined sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

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

echo "=== fuzz targets, 60 seconds each ==="
scripts/fuzz.sh 60
