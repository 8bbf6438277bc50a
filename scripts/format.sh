#!/usr/bin/env bash
# Formats the C and C++ files of the project with clang-format and the
# project's .clang-format; --check lists the files that differ instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(-i)
[ "${1:-}" = "--check" ] && mode=(--dry-run --Werror)
git ls-files '*.h' '*.cpp' '*.c' | grep -v '^GlueCode/PluginMain/REALplugin.h$' | xargs clang-format "${mode[@]}"
