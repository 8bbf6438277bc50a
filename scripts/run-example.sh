#!/usr/bin/env bash
# The main job: build the plugin and run the example application in the
# replacement host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
"${BUILD_DIR:-build}/examples/example_app" "${BUILD_DIR:-build}/Python3Plugin.so"
