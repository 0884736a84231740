#!/usr/bin/env bash
# Takes the pictures of the Windows program for the manual: starts orbel.exe
# under Wine, on a copy of a prefix and so on its live registry, under Xvfb;
# drives it with xdotool and saves each window, with the frame Wine draws for
# it, as an 8-bit PNG windows-NAME.png. Fails when a window does not come:
# the welcome question, the reading of this computer (its title naming the
# computer), the attributes of an object with the icon ExtractIconW gives,
# another computer's name refused, the About box.
#
#   scripts/windows-screenshots.sh BUILD_DIR PREFIX [OUT_DIR]
#
# BUILD_DIR holds a Windows build with src/orbel.exe (scripts/windows-check.sh
# makes one); PREFIX is the Wine prefix, which is copied and never changed;
# OUT_DIR defaults to docs/. Needs wine, fonts-wine, xvfb, xdotool, x11-apps
# (xwd) and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if (($# < 2)); then
  echo "usage: scripts/windows-screenshots.sh BUILD_DIR PREFIX [OUT_DIR]" >&2
  exit 2
fi
program=$(cd "$1" && pwd)/src/orbel.exe
source_prefix=$2
out=${3:-$root/docs}
[ -f "$program" ] || { echo "no program at $program" >&2; exit 1; }
[ -f "$source_prefix/system.reg" ] || { echo "no Wine prefix at $source_prefix" >&2; exit 1; }
for tool in Xvfb xdotool xwd convert wineserver; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
wine64=$(command -v wine64 || true)
if [ -z "$wine64" ] && [ -x /usr/lib/wine/wine64 ]; then wine64=/usr/lib/wine/wine64; fi
mkdir -p "$out"
out=$(cd "$out" && pwd)

scratch=$(mktemp -d)
xvfb_pid=""
orbel_pid=""
finish() {
  if [ -n "$orbel_pid" ]; then kill "$orbel_pid" 2>/dev/null || true; fi
  WINEPREFIX="$scratch/prefix" wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap finish EXIT
wait_poll=0.2
source scripts/xdisplay.sh

# The prefix's copy: the program keeps its settings in its registry, and the
# first start must be a first start. Without a window manager Wine draws the
# window frames itself (Managed=N), with the fonts of fonts-wine.
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEARCH=win64
WINEPREFIX="$source_prefix" wineserver -w 2>/dev/null || true
cp -a "$source_prefix" "$WINEPREFIX"
rm -f "$WINEPREFIX/.update-timestamp.lock"
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
for font in marlett tahoma tahomabd; do
  if [ -f "/usr/share/wine/fonts/$font.ttf" ]; then
    cp "/usr/share/wine/fonts/$font.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
done

# A display of our own.
start_xvfb
unset QT_QPA_PLATFORM ORBEL_REGISTRY
"$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null

# Window $1 as windows-$2.png, once two captures in a row are the same (painted).
snap() {
  local window=$1 name=$2 previous="" current tries=0
  # The window with the keyboard, so that Wine draws its title bar active.
  xdotool windowfocus "$window" 2>/dev/null || true
  while ((tries < 50)); do
    sleep 0.3
    xwd -silent -id "$window" >"$scratch/shot.xwd"
    current=$(md5sum <"$scratch/shot.xwd")
    [ "$current" = "$previous" ] && break
    previous=$current
    tries=$((tries + 1))
  done
  convert "xwd:$scratch/shot.xwd" -strip PNG8:"$out/windows-$name.png"
  echo "windows-$name.png"
}

# Gives window $1 the keyboard (there is no window manager to activate it)
# and presses the keys that follow.
keys() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  sleep 0.2
  xdotool key --clearmodifiers --delay 80 "$@"
}

# The pointer out of the way, so that no row is drawn hovered.
park_pointer() {
  xdotool mousemove 1020 760
  sleep 0.3
}

"$wine64" "$program" >"$scratch/orbel.log" 2>&1 &
orbel_pid=$!

# The first start: the welcome question; Yes reads this computer.
welcome=$(wait_window '^Confirm$' 60)
snap "$welcome" welcome-question
keys "$welcome" Return
main=$(wait_window '^Vell Orbel - Viewing Computer "[^"]+"$' 300)
echo "title: $(xdotool getwindowname "$main")"

# A class found by its name, in its group of the tree: the Recycle Bin's
# shell extension, whose server and default icon are in shell32.dll.
keys "$main" ctrl+f
find=$(wait_window '^Find$')
keys "$find" ctrl+a
xdotool type --delay 30 'Trash'
keys "$find" Return
wait_gone '^Find$'
park_pointer
snap "$main" main-window

# Its last rows, the default icon selected: the icons ExtractIconW gave.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" $((WIDTH - 200)) 110 click 1
keys "$main" End Up Up
park_pointer
snap "$main" icons

# Another computer, which Wine's registry cannot reach: refused, and this
# computer read again.
keys "$main" F8
selector=$(wait_window '^Select a computer$')
keys "$selector" ctrl+a
xdotool type --delay 30 '\\OTHERPC'
keys "$selector" Return
wait_gone '^Select a computer$'
refused=$(wait_window '^Confirm$' 60)
snap "$refused" remote-refused
keys "$refused" Return
wait_gone '^Confirm$' 60
# The progress window, titled as the program, closes when the reading ends.
wait_gone '^Vell Orbel$' 300
main=$(wait_window '^Vell Orbel - Viewing Computer "[^"]+"$' 300)

# The About command through its menu; the menu is asked for again when a
# busy program let the keys pass.
about=""
for attempt in 1 2 3; do
  keys "$main" alt+h
  sleep 1
  xdotool key a
  if about=$(wait_window '^About$' 10); then break; fi
  keys "$main" Escape Escape
done
[ -n "$about" ] || { echo "no About box" >&2; exit 1; }
snap "$about" about-box
keys "$about" Escape
wait_gone '^About$'

kill "$orbel_pid" 2>/dev/null || true
wait "$orbel_pid" 2>/dev/null || true
orbel_pid=""
