#!/usr/bin/env bash
# Builds everything into build-valgrind/ (or $BUILD_DIR) and runs the whole
# suite under valgrind's memcheck with one Python library: the one named by
# its label ("pyenv-3.8.18"), the distribution's when none is given. Any
# memcheck error fails its test. Leaks are the sanitizer run's part
# (scripts/run-sanitizers.sh), not this one's.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
command -v valgrind > /dev/null || {
  echo "Installing: valgrind"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q valgrind
}
build_dir="${BUILD_DIR:-build-valgrind}"
# Code under memcheck runs some twenty times slower.
BUILD_DIR="$build_dir" scripts/build.sh -DPYTHON_TEST_TIMEOUT=1800

mapfile -t labels < <(bash tests/support/python-libraries.sh | cut -d' ' -f1)
chosen=${1:-$(printf '%s\n' "${labels[@]}" | grep -m1 '^system-' || echo "${labels[0]:-}")}
printf '%s\n' "${labels[@]}" | grep -qxF -- "$chosen" ||
  { echo "No Python library labelled $chosen; this machine has: ${labels[*]}" >&2; exit 2; }
excluded=()
for label in "${labels[@]}"; do
  [ "$label" = "$chosen" ] || excluded+=("${label//./\\.}")
done
# VALGRIND_EXCLUDE: a regular expression of further tests to leave out.
pattern=""
[ ${#excluded[@]} -eq 0 ] || pattern="^($(IFS='|'; echo "${excluded[*]}")):"
[ -z "${VALGRIND_EXCLUDE:-}" ] || pattern="${pattern:+$pattern|}${VALGRIND_EXCLUDE}"
filter=()
[ -z "$pattern" ] || filter=(--exclude-regex "$pattern")

# ctest's memcheck action reads its tool from this file of the build folder.
# Children are followed, except the binutils and shells that look at the
# plugin file and the loading tests' probe: most of them run it under an rtld
# audit module (LD_AUDIT), whose separate link namespace memcheck's malloc
# cannot follow (glibc there aborts with "free(): invalid pointer" before any
# plugin code runs).
cat > "$build_dir/DartConfiguration.tcl" <<EOF
SourceDirectory: $PWD
BuildDirectory: $PWD/$build_dir
MemoryCheckType: Valgrind
MemoryCheckCommand: $(command -v valgrind)
MemoryCheckCommandOptions: --error-exitcode=99 --leak-check=no --num-callers=40 --trace-children=yes --trace-children-skip=*/nm,*/readelf,*/sh,*/bash,*/python_loading_probe
MemoryCheckSuppressionFile: $PWD/tests/sanitizers/valgrind.supp
EOF

echo "Memcheck of the suite with $chosen"
started=$SECONDS
status=0
ctest --test-dir "$build_dir" -T memcheck --output-on-failure -j "$(nproc)" --timeout 1800 "${filter[@]}" || status=$?
echo "Ran in $((SECONDS - started)) s; valgrind's logs: $build_dir/Testing/Temporary/MemoryChecker.*.log"
exit $status
