#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every libFuzzer target of a fuzz build for a fixed time each, seeded from the
# target's own corpus folder (and the seeds the target writes with testkit), with the
# target's dictionary (BUILD_DIR/fuzz/<target>.dict when the build writes one, else
# fuzz/<target>.dict) and flags fuzz/<target>.options when there are
# any. Runs every target, prints the executions and coverage of each, and fails when any
# of them found a fault.
#   scripts/run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET [TARGET...]
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
shift $(( $# > 2 ? 2 : $# ))
source_dir=$(cd "$(dirname "$0")/.." && pwd)
corpus_root=${build}/fuzz-corpus
mkdir -p "$corpus_root"

# A sanitizer report ends the run with a failure, whatever the target's own checks say.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

targets=()
if [ $# -gt 0 ]; then
  for name in "$@"; do targets+=("$build/fuzz/$name"); done
else
  shopt -s nullglob
  targets=("$build"/fuzz/fuzz_*)
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $build/fuzz"
  exit 1
fi

status=0
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$corpus_root/$name"
  mkdir -p "$corpus"
  # A target writes its own seeds (built with testkit) when asked to.
  SONVEX_FUZZ_WRITE_SEEDS="$corpus" "$target" -runs=0 "$corpus" >/dev/null 2>&1 || true
  # Per-target extras: a dictionary, and libFuzzer flags one per line in fuzz/<target>.options.
  extra=()
  if [ -f "$build/fuzz/$name.dict" ]; then
    extra+=(-dict="$build/fuzz/$name.dict") # written at build time from the signature table
  elif [ -f "$source_dir/fuzz/$name.dict" ]; then
    extra+=(-dict="$source_dir/fuzz/$name.dict")
  fi
  if [ -f "$source_dir/fuzz/$name.options" ]; then
    while read -r flag; do
      [ -n "$flag" ] && extra+=("$flag")
    done <"$source_dir/fuzz/$name.options"
  fi
  log="$build/$name.log"
  echo "fuzz: $name for ${seconds}s ($(ls "$corpus" | wc -l) inputs to start from)"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "${extra[@]}" -artifact_prefix="$build/fuzz-artifacts-$name-" "$corpus" >"$log" 2>&1; then
    echo "fuzz: $name FOUND A FAULT; see $log and $build/fuzz-artifacts-$name-*"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written|==[0-9]+==' "$log" | head -n 20 || true
    status=1
  else
    execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo "?")
    cov=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || echo "cov: ?")
    echo "fuzz: $name ok, $execs executions, $cov, corpus $(ls "$corpus" | wc -l)"
  fi
done
exit $status
