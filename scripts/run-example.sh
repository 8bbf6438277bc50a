#!/usr/bin/env bash
# The main job: build the plugin and the example application (nothing else),
# and run the example in the replacement host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD_TARGETS="Python3Plugin example_app" scripts/build.sh
"${BUILD_DIR:-build}/examples/example_app" "${BUILD_DIR:-build}/Python3Plugin.so"
