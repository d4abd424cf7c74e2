#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cd "${QORN_BUILD_DIR:-build}"
ctest --output-on-failure -j "$(nproc)" --timeout 600
