#!/usr/bin/env bash
# The benchmark's table in instructions per operation, counted by callgrind:
# figures that the load of a shared machine does not move. Each benchmark
# runs N and 2N times; the difference leaves out its set-up.
#
#   bench/instructions.sh [plugin_bench options, e.g. --python=LIBRARY --benchmark_filter=Invoke]
#
# ITERATIONS (default 2000) sets N; BUILD_DIR (default build) the build.
# Init + Finalize is left out unless a filter names it (under callgrind each
# cycle takes seconds), and so are the wall-clock rows of thread output.
set -euo pipefail
cd "$(dirname "$0")/.."
bench="${BUILD_DIR:-build}/bench/plugin_bench"
n="${ITERATIONS:-2000}"
options=(--benchmark_filter=-InitFinalize --thread-lines=0 "$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "way operation instructions" of each way's function run `$1` times.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$work/out" "$bench" "${options[@]}" --iterations="$1" \
    --benchmark_repetitions=1 --benchmark_enable_random_interleaving=false --rss-calls=0 \
    > /dev/null 2> "$work/log" || { cat "$work/log" >&2; exit 1; }
  # Each way shows under two names (the lambda and its invoker): the larger count.
  callgrind_annotate --inclusive=yes --threshold=100 "$work/out" |
    sed -nE 's/^ *([0-9,]+) .*bench::FunctionOf<\(bench::Way\)([0-9]), \(bench::Operation\)([0-9]+)>\(\)::\{lambda.*/\2 \3 \1/p' |
    tr -d , | sort -k1,1n -k2,2n -k3,3nr | sort -u -k1,1n -k2,2n
}

count "$n" > "$work/once"
count $((2 * n)) > "$work/twice"
join <(awk '{print $1 "_" $2, $3}' "$work/once" | sort) <(awk '{print $1 "_" $2, $3}' "$work/twice" | sort) |
  awk -v n="$n" '{split($1, key, "_"); print key[1], key[2], ($3 - $2) / n}' > "$work/figures"
"$bench" "${options[@]}" --figures="$work/figures"
