#!/usr/bin/env bash
# Pictures of Corvane's six pages for the README: the end-to-end driver shows each page and
# copies the window from the screen; Wine runs in a virtual desktop on a private Xvfb, so the
# window frame is drawn too. Needs a windows build (default build/windows), Xvfb and ImageMagick.
#   bash tests/app/take_screenshots.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build/windows}")
out=docs/screenshots
display=:${CORVANE_SCREENSHOT_DISPLAY:-93}

mkdir -p "$out"
shots=$(mktemp -d /tmp/corvane-shots.XXXXXX)
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/corvane-shots-wine.XXXXXX)
export CORVANE_THROWAWAY_PREFIX=$WINEPREFIX
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=$display
export PATH="/usr/lib/wine:$PATH" # Debian's wine64 keeps wineserver there
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb_pid 2>/dev/null; rm -rf "$WINEPREFIX" "$shots"' EXIT

wine64 wineboot -i >/dev/null 2>&1 || true
# Wine's own Tahoma and Marlett (caption buttons), where the distribution keeps them apart.
for font in /usr/share/wine/fonts/*.ttf; do
  [ -e "$font" ] && cp -n "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
done
wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x500 /f >/dev/null 2>&1
wineserver -w || true

CORVANE_APP_EXE="$build/app/Corvane.exe" CORVANE_SCREENSHOT_DIR="$shots" \
  timeout 300 wine64 "$build/tests/app/shell_e2e_tests.exe" --gtest_also_run_disabled_tests \
    --gtest_filter=Shell.DISABLED_Screenshots
for picture in "$shots"/*.bmp; do
  convert "$picture" -strip "$out/$(basename "${picture%.bmp}").png"
done
ls -l "$out"
