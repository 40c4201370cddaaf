#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Source coverage of the fuzz corpora: builds the libFuzzer targets once more with Clang's
# source-based coverage, replays each target's corpus (no fuzzing), and prints the line
# and branch coverage of the product sources each target reaches, then of all of them.
#   scripts/fuzz-coverage.sh [CORPUS_ROOT] [BUILD_DIR] [TARGET...]
# CORPUS_ROOT defaults to build-fuzz/fuzz-corpus (what `make fuzz` grows), BUILD_DIR to
# build-fuzz-coverage.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
corpus_root=$(realpath "${1:-$source_dir/build-fuzz/fuzz-corpus}")
build=${2:-$source_dir/build-fuzz-coverage}
shift $(( $# > 2 ? 2 : $# ))

flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DSONVEX_BUILD_FUZZERS=ON -DSONVEX_BUILD_TESTS=OFF \
    -DSONVEX_BUILD_GUI=OFF -DSONVEX_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$source_dir"/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi
cmake --build "$build" -j "${JOBS:-2}" --target "${targets[@]}" >/dev/null

profiles=$build/coverage-profiles
rm -rf "$profiles"
mkdir -p "$profiles"
# Product sources only: not the tests' recipes, not the targets themselves.
ignore='(/usr/|/testkit/|/fuzz/|/tests/)'
objects=()
for name in "${targets[@]}"; do
  corpus=$corpus_root/$name
  if [ ! -d "$corpus" ]; then
    echo "coverage: no corpus for $name in $corpus_root" >&2
    continue
  fi
  LLVM_PROFILE_FILE="$profiles/$name.profraw" ASAN_OPTIONS=detect_leaks=0 \
      "$build/fuzz/$name" -runs=0 "$corpus" >/dev/null 2>&1 || true
  llvm-profdata merge -sparse "$profiles/$name.profraw" -o "$profiles/$name.profdata"
  echo "== $name: $(ls "$corpus" | wc -l) corpus inputs"
  llvm-cov report "$build/fuzz/$name" -instr-profile="$profiles/$name.profdata" \
      -ignore-filename-regex="$ignore" | awk 'NR == 1 || /^TOTAL/'
  objects+=(-object "$build/fuzz/$name")
done
if [ ${#objects[@]} -gt 0 ]; then
  llvm-profdata merge -sparse "$profiles"/*.profraw -o "$profiles/all.profdata"
  echo "== all targets together, per file"
  llvm-cov report "${objects[@]:1}" -instr-profile="$profiles/all.profdata" \
      -ignore-filename-regex="$ignore"
fi
