#!/usr/bin/env bash
# Builds Qt for 64-bit Windows with mingw-w64, from Debian's own qt6-base
# source (the host Qt's version), as static libraries: Core, Gui, Widgets,
# Test and the Windows and offscreen platform plugins, with the host Qt's
# tools (moc, rcc, uic). No network, SQL, D-Bus, OpenGL or printing. Debian
# has no Qt for mingw; scripts/windows-check.sh builds orbel.exe against
# this one.
#
# Installs into $ORBEL_QT_MINGW (default ~/.cache/orbel/qt-6.4.2-mingw) and
# does nothing when that folder is complete (its stamp file is written last).
# An interrupted build resumes where it stopped. Takes 30 to 60 minutes on
# two cores; run it with nice on a shared machine. ORBEL_QT_MINGW_JOBS sets
# the parallel jobs (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

prefix="${ORBEL_QT_MINGW:-$HOME/.cache/orbel/qt-6.4.2-mingw}"
stamp="$prefix/orbel-qt-complete"
if [ -f "$stamp" ]; then
  echo "Qt for mingw is ready in $prefix"
  exit 0
fi
work="$prefix.work"
jobs="${ORBEL_QT_MINGW_JOBS:-$(nproc)}"
started=$SECONDS

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

# apt-get source needs a deb-src entry; Debian's images ship only deb ones.
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  . /etc/os-release
  echo "Adding the Debian source entry for $VERSION_CODENAME"
  printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
    "Suites: $VERSION_CODENAME $VERSION_CODENAME-updates" "Components: main" \
    "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
    $sudo tee /etc/apt/sources.list.d/orbel-deb-src.sources >/dev/null
  $sudo apt-get update -qq
fi

scripts/install-deps.sh cmake ninja-build dpkg-dev xz-utils patch \
  g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools

# The same version as the host Qt, whose tools the build uses.
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
mkdir -p "$work"
source=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
if [ -z "$source" ] || [ ! -f "$work/source-ready" ]; then
  echo "=== Fetching qt6-base $version source ==="
  rm -rf "${work:?}"/*
  (cd "$work" && apt-get source -qq "qt6-base=$version")
  source=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
  # Without OpenGL, qwindowswindow.cpp names a function of the OpenGL
  # context; the fix makes it test the OpenGL feature as well.
  for change in "$repo"/scripts/patches/qtbase/*.patch; do
    patch -d "$source" -p1 --forward <"$change"
  done
  touch "$work/source-ready"
fi

echo "=== Configuring ($source) ==="
# Tablet events are off because Debian's repack leaves out wintab.h; fonts
# are drawn through GDI (6.4.2 builds its DirectWrite font database only
# with Direct2D, which the program does not need); the bundled third-party
# libraries are used so that nothing comes from the mingw sysroot by chance.
cmake -S "$source" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=OFF \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_printsupport=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_zstd=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF \
  >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log"; exit 1; }
grep -E 'Qt modules and plugins|^ *(Gui|Widgets|Windows|OpenGL|Using static|Tablet)' \
  "$work/configure.log" || true

echo "=== Building with $jobs jobs ==="
cmake --build "$work/build" --parallel "$jobs"
cmake --install "$work/build" >/dev/null

date -u +'%Y-%m-%dT%H:%M:%SZ' >"$stamp"
echo "Qt for mingw built in $((SECONDS - started)) s: $prefix"
# The source and objects are of no more use once installed.
rm -rf "$work"
