#!/usr/bin/env bash
# Builds everything and runs the benchmark: each operation through the
# plugin, the raw C API and pybind11, and the table that splits the plugin's
# figures. Arguments go to the benchmark (--python=LIBRARY, --benchmark_filter=...).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
"${BUILD_DIR:-build}/bench/plugin_bench" "$@"
