#!/usr/bin/env bash
# Pictures of Corvane's six pages for the README, taken from the real Corvane.exe under Wine on a
# private Xvfb. The window is turned from page to page with Ctrl+Tab, as an operator at the
# keyboard would. Needs the windows build (default build/windows); run as root on Debian to have
# the few packages it needs installed.
#   bash scripts/screenshots.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
exe=$(realpath "${1:-build/windows}/app/Corvane.exe")
missing=()
for package in xvfb xdotool imagemagick fonts-wine wine64; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] || apt-get install -y -q --no-install-recommends "${missing[@]}"

display=:${CORVANE_SCREENSHOT_DISPLAY:-93}
[ ! -e "/tmp/.X11-unix/X${display#:}" ] || { echo "display $display is taken: set CORVANE_SCREENSHOT_DISPLAY" >&2; exit 1; }
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=$display
export PATH="/usr/lib/wine:$PATH" # Debian's wine64 keeps wineserver there
WINEPREFIX=$(mktemp -d /tmp/corvane-shots.XXXXXX)
Xvfb "$display" -screen 0 640x500x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
shot=$WINEPREFIX/shot.png # private, so that two runs side by side never share it
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
wine64 wineboot -i >/dev/null 2>&1 || true
# A desktop of Wine's own, so the window gets its frame; Wine's Tahoma stands in for Segoe UI.
wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x500 /f >/dev/null 2>&1
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
wineserver -w || true
# Shown at start rather than in the tray; the rest are the defaults a first start writes.
data="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/Corvane"
mkdir -p "$data"
printf '[app]\r\nstart_minimized=0\r\n' > "$data/settings.ini"

wine64 "$exe" &
xdotool search --sync --name 'Corvane by' >/dev/null
sleep 2 # the first paint
names=(1-vlm-dashboard 2-wp-dashboard 3-udp-receiver 4-hrd 5-live-status 6-application-settings)
for name in "${names[@]}"; do
  # The window alone: the screen without the task bar, cut down to what differs from the desktop.
  import -window root -crop 640x470+0+0 +repage "$shot"
  desktop=$(/usr/bin/convert "$shot" -format '%[pixel:p{639,300}]' info:)
  /usr/bin/convert "$shot" -bordercolor "$desktop" -border 1 -trim +repage -strip \
    "docs/screenshots/$name.png"
  xdotool key ctrl+Tab
  sleep 1
done
echo "docs/screenshots: ${#names[@]} pages"
