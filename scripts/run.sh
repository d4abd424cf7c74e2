#!/usr/bin/env bash
# Sets up, builds and starts the player.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
exec "${QORN_BUILD_DIR:-build}/app/qorn" "$@"
