#!/usr/bin/env bash
# Builds everything, runs every test and the naming check (clang-tidy over
# Sources and GlueCode, tools/check_naming.py); the Python versions covered
# are listed at the end. Any failing test or name fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir="${BUILD_DIR:-build}"
rm -f "$build_dir/python-versions-covered.txt"
status=0
python3 tools/check_naming.py "$build_dir" || status=$?
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600 || status=$?
# One line per CPython version: the library the interpreter tests ran, and how
# many file names of it the loading tests opened.
if [ -f "$build_dir/python-versions-covered.txt" ]; then
  echo "CPython libraries this run tested for real, each version in processes of its own:"
  sort -V -u "$build_dir/python-versions-covered.txt" | awk '
    { version = $2; path = $3
      if (!(version in seen)) { seen[version] = 1; order[++count] = version }
      if ($0 ~ /interpreter and calls/) calls[version] = path
      else loadings[version]++ }
    END { for (i = 1; i <= count; i++) {
            v = order[i]
            printf "  CPython %-8s %s  interpreter and calls%s\n", v, (v in calls ? calls[v] : "(none)"),
                   (v in loadings ? sprintf("; loading under %d file name%s", loadings[v], loadings[v] > 1 ? "s" : "") : "")
          } }'
  echo "Versions without a library here (3.4, 3.5, 3.14) are covered only by stand-in libraries: search order and entry points."
fi
exit $status
