#!/usr/bin/env bash
# Builds everything and runs every test; the Python versions covered are
# listed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir="${BUILD_DIR:-build}"
rm -f "$build_dir/python-versions-covered.txt"
status=0
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600 || status=$?
if [ -f "$build_dir/python-versions-covered.txt" ]; then
  echo "Python libraries covered by this run:"
  sort -V -u "$build_dir/python-versions-covered.txt" | sed 's/^/  /'
fi
exit $status
