#!/usr/bin/env bash
# Lists the CPython 3 shared libraries of this machine, one per line as
# "<label> <path>": the distribution's (through ldconfig) and each pyenv version.
set -u

declare -A seen=()
emit() {
  local label=$1 path=$2 real
  real=$(readlink -f "$path") || return
  [ -n "${seen[$real]:-}" ] && return
  seen[$real]=1
  echo "$label $path"
}

ldconfig_bin=$(command -v ldconfig || echo /sbin/ldconfig)
while read -r path; do
  version=$(basename "$path" | sed -E 's/^libpython(3\.[0-9]+)m?\.so.*/\1/')
  emit "system-$version" "$path"
done < <("$ldconfig_bin" -p 2>/dev/null | grep -oE '/[^ ]*/libpython3\.[0-9]+m?\.so(\.1\.0)?$' | sort -t. -k2,2n -u)

pyenv_root=$(pyenv root 2>/dev/null || echo "${PYENV_ROOT:-$HOME/.pyenv}")
for library in "$pyenv_root"/versions/3.*/lib/libpython3.*.so; do
  [ -e "$library" ] || continue
  version=$(basename "$(dirname "$(dirname "$library")")")
  emit "pyenv-$version" "$library"
done
