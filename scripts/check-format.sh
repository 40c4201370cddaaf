#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a tracked C++ file differs from .clang-format. The formatter is pinned by
# version (scripts/install-deps.sh installs it), since versions format differently.
# With --fix, formats the files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=clang-format-14
if ! command -v "$formatter" > /dev/null; then
  echo "check-format: $formatter not found; run scripts/install-deps.sh" >&2
  exit 1
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi

unformatted=()
for f in "${files[@]}"; do
  if ! "$formatter" "$f" | cmp -s - "$f"; then
    unformatted+=("$f")
  fi
done
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "check-format: ${#unformatted[@]} file(s) differ from .clang-format:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "check-format: run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
