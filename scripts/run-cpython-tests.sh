#!/usr/bin/env bash
# Runs modules of CPython's own regression tests inside the interpreter the
# plugin starts (the host program cpython_tests_host) and in the standalone
# interpreter of the same version on the same shared library (the program
# standalone_python), and compares them module by module: the same number of
# tests must run, with no more failures inside the plugin, and no test may
# fail inside the plugin alone.
# Arguments: the libraries by label ("pyenv-3.12.1", "system-3.11"); every
# library of the machine when none is given. CPYTHON_TEST_MODULES replaces the
# list of modules. Reports go to build/cpython-tests/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build_dir="${BUILD_DIR:-build}"
modules=${CPYTHON_TEST_MODULES:-"test_re test_collections test_itertools test_functools test_bytes test_list
  test_set test_exceptions test_threading test_subprocess test_asyncio test_argparse"}
reports="$build_dir/cpython-tests"
mkdir -p "$reports"
driver=$(realpath "$build_dir/tests/CPythonRegression/python/cpython_tests.py")
launcher=$(realpath "$build_dir/tests/CPythonRegression/standalone_python")
module_timeout=600  # seconds; the slowest module takes about one minute

# The standalone interpreter next to a library: bin/python3.X of its prefix.
interpreter_of() {
  local library=$1 version
  version=$(basename "$library" | sed -E 's/^libpython(3\.[0-9]+).*/\1/')
  for candidate in "$(dirname "$(dirname "$library")")/bin/python$version" "/usr/bin/python$version"; do
    [ -x "$candidate" ] && { echo "$candidate"; return; }
  done
}

# Debian ships a Python's test modules apart from its test package, in
# libpython3.X-testsuite, built from the same source as the library: only the
# version of the installed library's package tests that library. Rather than
# install it over the system's Python, its files are unpacked here next to a
# copy of the installed test package, and both runs find them first on
# PYTHONPATH. Prints that folder; status 1 when no distribution's package
# applies, 2 (after saying why) when the matching one cannot be had.
# CPYTHON_TESTSUITE_VERSION names another version of the package, deliberately.
distribution_test_package() {
  local library=$1 version=$2 package owner installed stdlib wanted folder
  command -v apt-get > /dev/null && command -v dpkg-query > /dev/null && [ -d "/usr/lib/python$version/test" ] || return 1
  package=libpython$version-testsuite
  owner=$(dpkg-query -S "$(realpath "$library")" 2> /dev/null | head -n 1 | sed 's/: .*//')
  if [ -z "$owner" ]; then
    echo "  $library belongs to no installed package: which $package would match it is unknown" >&2
    return 2
  fi
  installed=$(dpkg-query -W -f='${Version}' "$owner")
  stdlib=$(dpkg-query -S "/usr/lib/python$version/test/support/__init__.py" 2> /dev/null | head -n 1 | sed 's/: .*//')
  if [ -n "$stdlib" ] && [ "$(dpkg-query -W -f='${Version}' "$stdlib")" != "$installed" ]; then
    echo "  $stdlib (with test.support) is $(dpkg-query -W -f='${Version}' "$stdlib"), $owner is $installed: install one version of both" >&2
    return 2
  fi
  wanted=${CPYTHON_TESTSUITE_VERSION:-$installed}
  folder=$(realpath "$reports")/testsuite-$version-$wanted
  if [ ! -e "$folder/unpacked.stamp" ]; then
    rm -rf "$folder" && mkdir -p "$folder/unpacked"
    if ! (cd "$folder" && apt-get download -q "$package=$wanted" > "$folder/download.log" 2>&1); then
      echo "  cannot download $package $wanted (the version of the installed $owner): $(tail -n 1 "$folder/download.log")" >&2
      echo "  the archive has: $(apt-cache madison "$package" 2> /dev/null | awk -F' [|] ' '{print $2}' | sort -u | tr '\n' ' ')" >&2
      echo "  upgrade $owner to one of them, or name one in CPYTHON_TESTSUITE_VERSION to compare with its tests anyway" >&2
      return 2
    fi
    dpkg -x "$folder"/*.deb "$folder/unpacked" || return 2
    cp -r "/usr/lib/python$version/test" "$folder/test"
    cp -r "$folder/unpacked/usr/lib/python$version/test/." "$folder/test/"
    touch "$folder/unpacked.stamp"
  fi
  [ "$wanted" = "$installed" ] ||
    echo "  $package $wanted, as CPYTHON_TESTSUITE_VERSION says, with $owner $installed installed" >&2
  echo "$folder"
}

# Lines "<module> run=N failures=F errors=E skipped=S doctests=D ..." of both
# reports, or "<module> <outcome> ..." for a module that did not run.
compare() {
  awk '
    $1 ~ /^test_/ && $2 ~ /^run=/ {
      for (i = 2; i <= NF; i++) { split($i, pair, "="); value[pair[1]] = pair[2] }
      run[side, $1] = value["run"]; bad[side, $1] = value["failures"] + value["errors"]
      doctests[side, $1] = value["doctests"] + 0; names[$1] = 1
    }
    $1 ~ /^test_/ && $2 ~ /^(skipped-module|import-error|ended-with-status)$/ { other[side, $1] = $0; names[$1] = 1 }
    END {
      status = 0
      for (name in names) {
        if ((1, name) in other || (2, name) in other) {
          # A module both sides skip (a platform, a resource) is no difference.
          if (other[1, name] == other[2, name] && other[1, name] ~ /^[^ ]+ skipped-module/) {
            printf "  %-22s skipped on both sides: %s\n", name, substr(other[1, name], length(name) + 17)
            continue
          }
          printf "  %-22s embedded: %s | standalone: %s\n", name, other[1, name] ? other[1, name] : "ran", other[2, name] ? other[2, name] : "ran"
          status = 1
          continue
        }
        verdict = run[1, name] == run[2, name] && doctests[1, name] == doctests[2, name] && bad[1, name] <= bad[2, name] ? "same" : "DIFFERENT"
        if (verdict != "same") status = 1
        printf "  %-22s run %5d / %5d   failed %3d / %3d   %s", name, run[1, name], run[2, name], bad[1, name], bad[2, name], verdict
        if (doctests[1, name] || doctests[2, name]) printf "   (doctests %d / %d)", doctests[1, name], doctests[2, name]
        printf "\n"
      }
      exit status
    }' side=1 "$1" side=2 "$2" | sort
}

# The ids of the failing tests of a report (lines "  FAIL <id><tab><what>"),
# one a line, a test failing in several subtests as often.
failing() {
  grep -E '^  (FAIL|ERROR) ' "$1" | sed -E 's/^  (FAIL|ERROR) //' | cut -f 1 | LC_ALL=C sort
}

status=0
while read -r label library; do
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qxF -- "$label"; then continue; fi
  python=$(interpreter_of "$library")
  if [ -z "$python" ]; then
    echo "$label: no standalone interpreter next to $library; skipped"
    continue
  fi
  # The standalone side: the library itself, started as the interpreter next
  # to it (the plugin gives the embedded side that sys.executable too).
  standalone=("$launcher" "$library" "$python")
  first=${modules%% *}
  export PYTHONPATH=""
  if ! "${standalone[@]}" -c "import test.$first" 2> /dev/null; then
    version=$("${standalone[@]}" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    found=0
    PYTHONPATH=$(distribution_test_package "$library" "$version") || found=$?
    if [ "$found" -eq 2 ]; then
      echo "$label: FAILED: no test modules of the distribution that match $library"
      status=1
      continue
    fi
    if [ -z "$PYTHONPATH" ] || ! "${standalone[@]}" -c "import test.$first" 2> /dev/null; then
      echo "$label: the library's test package has no $first; skipped"
      continue
    fi
    echo "$label: test modules from the distribution's package, in $PYTHONPATH (for both runs)"
  fi
  echo "$label: $library, embedded and standalone as $python"
  # One process per module and side, so that a module that hangs is ended
  # (with the children it started) and reported, and the others still run.
  for side in embedded standalone; do
    : > "$reports/$label.$side.txt"
    : > "$reports/$label.$side.log"
  done
  scratch=$(mktemp -d)
  embedded=0
  standalone_seconds=0
  for module in $modules; do
    started=$SECONDS
    timeout -k 10 "$module_timeout" "$build_dir/tests/CPythonRegression/cpython_tests_host" "$build_dir/Python3Plugin.so" \
      "$library" "$module" >> "$reports/$label.embedded.txt" 2>> "$reports/$label.embedded.log" ||
      echo "$module ended-with-status $?" >> "$reports/$label.embedded.txt"
    embedded=$((embedded + SECONDS - started))
    started=$SECONDS
    (cd "$scratch" && timeout -k 10 "$module_timeout" "${standalone[@]}" "$driver" "$module") \
      >> "$reports/$label.standalone.txt" 2>> "$reports/$label.standalone.log" ||
      echo "$module ended-with-status $?" >> "$reports/$label.standalone.txt"
    standalone_seconds=$((standalone_seconds + SECONDS - started))
  done
  rm -rf "$scratch"
  echo "  (tests run / failed: embedded / standalone; $embedded s / $standalone_seconds s)"
  compare "$reports/$label.embedded.txt" "$reports/$label.standalone.txt" || status=1
  grep -E '^  (FAIL|ERROR) ' "$reports/$label.embedded.txt" | LC_ALL=C sort > "$reports/$label.embedded.failing" || true
  grep -E '^  (FAIL|ERROR) ' "$reports/$label.standalone.txt" | LC_ALL=C sort > "$reports/$label.standalone.failing" || true
  # Compared by id: a test that fails on both sides for different reasons is
  # not counted here (the counts above still see it).
  only=$(LC_ALL=C comm -23 <(failing "$reports/$label.embedded.txt") <(failing "$reports/$label.standalone.txt"))
  if [ -n "$only" ]; then
    echo "  $(wc -l <<< "$only") tests fail only inside the plugin (all failures: $reports/$label.embedded.failing):"
    sed 's/^/    /' <<< "$only" | head -n 20
    status=1
  fi
done < <(bash tests/support/python-libraries.sh)
exit $status
