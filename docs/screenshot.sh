#!/usr/bin/env bash
# Takes docs/screenshot.png: the player's window on a virtual screen.
# Needs xvfb and imagemagick; run from the repository with a built player.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/app/qorn}
shot=$(mktemp --suffix=.png)
runtime=$(mktemp -d)
XDG_RUNTIME_DIR=$runtime xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
  '$exe' & pid=\$!
  sleep 3
  import -window root '$shot'
  kill \$pid; wait \$pid || true"
# Without a window manager the window sits centred and has no frame.
convert "$shot" -crop 441x290+291+239 +repage docs/screenshot.png
rm -rf "$shot" "$runtime"
echo "docs/screenshot.png written"
