#!/usr/bin/env bash
# Writes docs/API.md from the records of the plugin as built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build_dir="${BUILD_DIR:-build}"
mkdir -p docs
"$build_dir/tools/api_reference/api_reference" "$build_dir/tools/api_reference/Python3PluginDocs.so" > docs/API.md
echo "docs/API.md written"
