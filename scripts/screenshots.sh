#!/usr/bin/env bash
# Takes the pictures of the manual and the README from the real program: it
# starts orbel under Xvfb with a scratch home, drives it with xdotool and saves
# each window and dialog, cropped to it, as an 8-bit PNG in docs/.
#
#   scripts/screenshots.sh [BUILD_DIR]
#
# BUILD_DIR holds a build with src/orbel; without it the program is built in
# build/. The main window shows the sample registry, or the registry image
# named by SCREENSHOT_REGISTRY (a Wine prefix, for instance); the progress
# dialog is caught while a larger generated registry is read. The pictures of
# a hijacked class are taken on a copy of the Wine prefix SCREENSHOT_PREFIX
# (~/.wine when not set; skipped when there is none) whose user's classes
# override a class's server and treat another class as one served from the
# public profile. Needs xvfb, xdotool, x11-apps (xwd) and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if (($#)); then
  build=$(cd "$1" && pwd)
else
  build=$root/build
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target orbel
fi
program=$build/src/orbel
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

scratch=$(mktemp -d)
xvfb_pid=""
orbel_pid=""
finish() {
  if [ -n "$orbel_pid" ]; then kill "$orbel_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap finish EXIT
source scripts/xdisplay.sh

# A display of our own.
start_xvfb
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
unset ORBEL_REGISTRY WINEPREFIX XDG_CONFIG_HOME

# How many windows of the program are visible.
visible_windows() {
  xdotool search --onlyvisible --pid "$orbel_pid" 2>/dev/null | wc -l
}

# Waits until more than $1 windows of the program are visible (a menu opened).
wait_more_windows() {
  local deadline=$((SECONDS + 10))
  until (($(visible_windows) > $1)); do
    ((SECONDS < deadline)) || { echo "no menu opened" >&2; return 1; }
    sleep 0.05
  done
}

# Window $1 as docs/$2.png, once two captures in a row are the same (painted).
snap() {
  local window=$1 name=$2 previous="" current tries=0
  while ((tries < 50)); do
    xwd -silent -id "$window" >"$scratch/shot.xwd"
    current=$(md5sum <"$scratch/shot.xwd")
    [ "$current" = "$previous" ] && break
    previous=$current
    tries=$((tries + 1))
    sleep 0.1
  done
  convert "xwd:$scratch/shot.xwd" -strip PNG8:"$root/docs/$name.png"
  echo "docs/$name.png"
}

# Window $1, which closes by itself, as docs/$2.png: captured again and again
# while it is open; kept is the capture halfway between the first change of
# its face (the work under way) and its end.
snap_passing() {
  local window=$1 name=$2 count=0 first started
  while ((count < 1000)) && xwd -silent -id "$window" >"$scratch/passing-$count.xwd" 2>/dev/null; do
    count=$((count + 1))
  done
  ((count > 0)) || { echo "$name: closed before it could be captured" >&2; return 0; }
  first=$(md5sum <"$scratch/passing-0.xwd")
  started=0
  while ((started < count - 1)) && [ "$(md5sum <"$scratch/passing-$started.xwd")" = "$first" ]; do
    started=$((started + 1))
  done
  convert "xwd:$scratch/passing-$(((started + count) / 2)).xwd" -strip PNG8:"$root/docs/$name.png"
  rm -f "$scratch"/passing-*.xwd
  echo "docs/$name.png ($count captures)"
}

# Gives window $1 the keyboard and presses the keys that follow.
keys() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  xdotool key --clearmodifiers --delay 60 "$@"
}

start_program() {
  HOME="$scratch/home" "$program" >"$scratch/orbel.log" 2>&1 &
  orbel_pid=$!
}

stop_program() {
  kill "$orbel_pid" 2>/dev/null || true
  wait "$orbel_pid" 2>/dev/null || true
  orbel_pid=""
}

# A registry of many classes, so that the progress dialog stays long enough
# to be seen.
big=$scratch/big.reg
awk 'BEGIN {
  print "WINE REGISTRY Version 2\n"
  for (i = 0; i < 40000; i++) {
    guid = sprintf("{%08X-1A2B-4C3D-8E9F-%012X}", i * 7919, i)
    printf "[Software\\\\Classes\\\\CLSID\\\\%s] 1273165719\n@=\"Generated Object %d\"\n\n", guid, i
    printf "[Software\\\\Classes\\\\CLSID\\\\%s\\\\InprocServer32] 1273165719\n", guid
    printf "@=\"C:\\\\Windows\\\\System32\\\\gen%d.dll\"\n\"ThreadingModel\"=\"Both\"\n\n", i
  }
}' >"$big"

mkdir -p "$scratch/home" "$root/docs"

# First start: the welcome question, then the progress of the reading it starts.
ORBEL_REGISTRY=$big start_program
welcome=$(wait_window '^Confirm$' 30)
snap "$welcome" welcome-question
keys "$welcome" Return
if progress=$(wait_window '^Vell Orbel$' 5); then
  # The main window has the same title until the reading ends: the progress
  # dialog is the smaller one.
  width=$(xdotool getwindowgeometry "$progress" | awk '/Geometry/ { split($2, s, "x"); print s[1] }')
  if ((width < 600)); then snap_passing "$progress" progress-dialog; fi
fi
wait_window '^Vell Orbel - Viewing Computer' 120 >/dev/null
stop_program

# The sample registry (or the chosen image), read by Refresh.
ORBEL_REGISTRY=${SCREENSHOT_REGISTRY:-} start_program
main=$(wait_window '^Vell Orbel$' 30)
keys "$main" F5
main=$(wait_window '^Vell Orbel - Viewing Computer' 60)

# An object selected in the tree, one of its attributes described.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --window "$main" 60 80 click 1
keys "$main" Home Down Down Down Right Down Down
xdotool mousemove --window "$main" $((WIDTH - 300)) 110 click 1
xdotool mousemove --window "$main" $((WIDTH - 20)) $((HEIGHT - 10))
snap "$main" main-window

keys "$main" F8
selector=$(wait_window '^Select a computer$')
xdotool type --delay 20 '~/.wine'
snap "$selector" computer-selector
keys "$selector" Escape
wait_gone '^Select a computer$'

keys "$main" ctrl+f
find=$(wait_window '^Find$')
xdotool type --delay 20 'Apartment'
snap "$find" find-dialog
keys "$find" Escape
wait_gone '^Find$'

keys "$main" F6
information=$(wait_window '^Information$')
snap "$information" information
keys "$information" Return
wait_gone '^Information$'

# The About command through its menu, once the menu is open.
shown=$(visible_windows)
keys "$main" alt+h
wait_more_windows "$shown"
xdotool key a
about=$(wait_window '^About$')
snap "$about" about-box
keys "$about" Escape
wait_gone '^About$'

stop_program

# Hunting for hijacked classes, on a copy of a Wine prefix in the scratch
# home: hard links where the copy is on the same file system, the user's
# registry replaced.
prefix=${SCREENSHOT_PREFIX:-$HOME/.wine}
if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/user.reg" ] || [ ! -d "$prefix/drive_c/users" ]; then
  echo "no Wine prefix at $prefix: the pictures of a hijacked class are not taken" >&2
  exit 0
fi
hijacked=$scratch/home/hijacked-prefix
cp -al "$prefix" "$hijacked" 2>/dev/null || { rm -rf "$hijacked"; cp -a "$prefix" "$hijacked"; }
user=$(find "$hijacked/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public -printf '%f\n' |
  sort | head -n1)
rm -f "$hijacked/user.reg"
cp "$prefix/user.reg" "$hijacked/user.reg"
mkdir -p "$hijacked/drive_c/users/$user/AppData/Roaming/Microsoft" "$hijacked/drive_c/users/Public"
echo planted >"$hijacked/drive_c/users/$user/AppData/Roaming/Microsoft/lnkhelper.dll"
echo planted >"$hijacked/drive_c/users/Public/updhelper.dll"
# The Shortcut class served from the user's profile; the scripting shell
# object treated as a class served from the public profile.
cat >>"$hijacked/user.reg" <<REG

[Software\\\\Classes\\\\CLSID\\\\{00021401-0000-0000-C000-000000000046}\\\\InprocServer32] 1796745900
@="C:\\\\users\\\\$user\\\\AppData\\\\Roaming\\\\Microsoft\\\\lnkhelper.dll"
"ThreadingModel"="Both"

[Software\\\\Classes\\\\CLSID\\\\{72C24DD5-D70A-438B-8A42-98424B88AFB8}\\\\TreatAs] 1796745900
@="{D5A7B2C4-1E3F-4A6B-9C8D-7E6F5A4B3C2D}"

[Software\\\\Classes\\\\CLSID\\\\{D5A7B2C4-1E3F-4A6B-9C8D-7E6F5A4B3C2D}] 1796745900
@="Update Helper"

[Software\\\\Classes\\\\CLSID\\\\{D5A7B2C4-1E3F-4A6B-9C8D-7E6F5A4B3C2D}\\\\InprocServer32] 1796745900
@="C:\\\\users\\\\Public\\\\updhelper.dll"
"ThreadingModel"="Apartment"
REG

# Selects the object whose GUID is $2 in window $1 through Find.
find_object() {
  keys "$1" ctrl+f
  local find
  find=$(wait_window '^Find$')
  xdotool type --delay 20 "$2"
  keys "$find" Return
  wait_gone '^Find$'
}

# The first row of the attribute list clicked, then the keys $2... pressed
# there, in window $1.
list_keys() {
  local window=$1
  shift
  xdotool mousemove --window "$window" 300 77 click 1
  keys "$window" "$@"
  xdotool mousemove --window "$window" $((WIDTH - 20)) $((HEIGHT - 10))
}

# The prefix and its user chosen in the selector.
start_program
main=$(wait_window '^Vell Orbel' 30)
keys "$main" F8
selector=$(wait_window '^Select a computer$')
xdotool type --delay 20 '~/hijacked-prefix'
keys "$selector" alt+u Down
snap "$selector" hunting-selector
keys "$selector" Return
main=$(wait_window '^Vell Orbel - Viewing Computer .*\(user ' 60)
xdotool windowsize --sync "$main" 900 560
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"

# Unknown rows hidden and the columns wide; the Shortcut class selected,
# the row of the machine's own server described (the user's two findings
# and the scope follow it).
xdotool mousemove --window "$main" 136 34 click 1
find_object "$main" '{00021401-0000-0000-C000-000000000046}'
# The Name column's edge at 385, the Value column's 190 further.
xdotool mousemove --window "$main" 385 59 mousedown 1 mousemove --window "$main" 420 59 \
  mousemove --window "$main" 440 59 mouseup 1
xdotool mousemove --window "$main" 630 59 mousedown 1 mousemove --window "$main" 700 59 \
  mousemove --window "$main" $((WIDTH - 16)) 59 mouseup 1
list_keys "$main" End Up Up Up
snap "$main" hunting-override

# Only the objects with findings; the class treated as another one
# selected, its last finding described.
keys "$main" ctrl+shift+f
find_object "$main" '{72C24DD5-D70A-438B-8A42-98424B88AFB8}'
list_keys "$main" End
snap "$main" hunting-findings

keys "$main" F6
information=$(wait_window '^Information$')
snap "$information" hunting-information
keys "$information" Return
wait_gone '^Information$'
stop_program
