#!/usr/bin/env bash
# Fuzzes the plugin for a number of seconds (default 600) with one Python
# library: a path, a pyenv version such as 3.13.0, or Debian's 3.11 by default.
#   scripts/run-fuzzer.sh [seconds] [library]
# Builds with clang (libFuzzer, ASan, UBSan) into build-fuzz/ (or $FUZZ_BUILD_DIR),
# starts from the seed corpus in fuzz/corpus and keeps what it finds in the
# build folder; a crash or an unbalanced ledger stops it and leaves the input
# in build-fuzz/findings/ (replay: see the README).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
library="${2:-/usr/lib/x86_64-linux-gnu/libpython3.11.so.1.0}"
if [ ! -e "$library" ]; then
  pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
  found=("$pyenv_root/versions/$library"/lib/libpython3.*.so)
  [ -e "${found[0]}" ] || { echo "no Python library $library" >&2; exit 2; }
  library="${found[0]}"
fi
scripts/setup.sh
build_dir="${FUZZ_BUILD_DIR:-build-fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPROJECT_FUZZ=ON -DXHOST_BUILD_TESTS=OFF > /dev/null
cmake --build "$build_dir" -j "$(nproc)" --target plugin_fuzzer
case "$library" in
  */versions/*) label=$(basename "$(dirname "$(dirname "$library")")") ;;
  *) label=$(basename "$library") ;;
esac
corpus="$build_dir/corpus-$label"
mkdir -p "$corpus" "$build_dir/findings"
echo "Fuzzing for ${seconds}s with $library"
# Python's objects come from malloc, so ASan sees every use of a freed one;
# leaks are the ledger's to find (CPython keeps memory at exit on purpose).
export PYTHON3_LIBRARY="$library" PYTHONMALLOC=malloc PYTHONDONTWRITEBYTECODE=1
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
exec "$build_dir/fuzz/plugin_fuzzer" "$corpus" fuzz/corpus \
  -max_total_time="$seconds" -timeout=30 -rss_limit_mb=6144 -malloc_limit_mb=1048576 \
  -max_len=2048 -len_control=0 -print_final_stats=1 -artifact_prefix="$build_dir/findings/" "${@:3}"
