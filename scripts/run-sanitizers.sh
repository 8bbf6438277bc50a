#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (or $BUILD_DIR), warnings as errors, and runs the whole suite
# with leak detection on. Arguments: the Python libraries to run the Python
# API tests with, by label ("system-3.11", "pyenv-3.12.1"); every library of
# the machine when none is given.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir="${BUILD_DIR:-build-asan}"
started=$SECONDS
BUILD_DIR="$build_dir" scripts/build.sh -DPROJECT_SANITIZE=address,undefined -DPROJECT_WERROR=ON
echo "Built in $((SECONDS - started)) s"

# Python's objects come from malloc, so LeakSanitizer sees them (3.7 and
# later honour this when embedded). libpython has no frame pointers: only the
# slow unwinder gives the stacks the suppressions are matched against, and
# it costs in proportion to the frames kept.
export PYTHONMALLOC=malloc
# intercept_tls_get_addr=0: this runtime misreads where the dynamic TLS block
# of libpython 3.12 lies once the heap layout puts it at certain addresses,
# and its leak scan then crashes; unread, those blocks are no roots, so the
# check can only report more, never hide anything.
export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=16:intercept_tls_get_addr=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

# Python API tests are named "<label>:<suite>.<case>"; those of the libraries
# not asked for are left out.
mapfile -t labels < <(bash tests/support/python-libraries.sh | cut -d' ' -f1)
excluded=()
for wanted in "$@"; do
  printf '%s\n' "${labels[@]}" | grep -qxF -- "$wanted" ||
    { echo "No Python library labelled $wanted; this machine has: ${labels[*]}" >&2; exit 2; }
done
if [ $# -gt 0 ]; then
  for label in "${labels[@]}"; do
    printf '%s\n' "$@" | grep -qxF -- "$label" || excluded+=("${label//./\\.}")
  done
fi
filter=()
[ ${#excluded[@]} -eq 0 ] || filter=(--exclude-regex "^($(IFS='|'; echo "${excluded[*]}")):")

rm -f "$build_dir/python-versions-covered.txt"
log="$build_dir/sanitizer-run.log"
started=$SECONDS
status=0
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 900 "${filter[@]}" 2>&1 | tee "$log" ||
  status=$?
echo "Tests ran in $((SECONDS - started)) s under ASan+UBSan with leak detection."
echo "Passed per Python library (the rest are the host's, frame and loading tests):"
grep -E 'Test +#[0-9]+: .* Passed +[0-9.]+ sec' "$log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/\1/' |
  awk -F: '{ n[NF > 1 ? $1 : "(no library)"]++ } END { for (k in n) printf "  %-16s %d\n", k, n[k] }' | sort -V
exit $status
