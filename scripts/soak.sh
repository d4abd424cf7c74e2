#!/usr/bin/env bash
# Randomised soak of the real window: ./scripts/soak.sh [SECONDS] (default 600).
# Random open/drop/play/stop/tempo/volume/port/File Info. on files our
# writers make, damaged ones included, through a private PulseAudio null
# sink. Fails on a crash, an action over 2 s, a note still held after a Stop
# (over the second from 300 ms on, anything but silence or a tail that keeps
# falling, however soft), or resident memory growing by more than 10 % after
# the first minute (half the run when shorter). QORN_SOAK_SEED fixes the
# random choices.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=${QORN_BUILD_DIR:-build}
cmake --build "$build" --target qorn_desktop_bench >/dev/null
bench="$build/bench/desktop/qorn_desktop_bench"
set +e
"$bench" soak "$seconds"
status=$?
set -e
if [ "$status" -gt 128 ]; then
  echo "soak: the player crashed (signal $((status - 128)))" >&2
fi
exit "$status"
