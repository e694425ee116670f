#!/usr/bin/env bash
# Copies the screenshots the end-to-end tests took (build/x86_64/screenshots/*.bmp, written
# by scripts/test) into docs/ as PNG files, trimming the black around frameless windows.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
shots="$root/build/x86_64/screenshots"
[ -d "$shots" ] || { echo "no screenshots: run scripts/test first" >&2; exit 1; }
for name in main-window-states main-window-96dpi main-window-144dpi context-menu tray-menu force-stop-box about-window-96dpi about-window-144dpi; do
  [ -f "$shots/$name.bmp" ] || { echo "missing $shots/$name.bmp" >&2; exit 1; }
  convert "$shots/$name.bmp" -bordercolor black -border 1 -trim +repage "$root/docs/$name.png"
  echo "docs/$name.png"
done
