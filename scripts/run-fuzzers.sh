#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a fixed time each, seeded from the
# target's own corpus folder, and fails on the first finding.
#   scripts/run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
corpus_root=${build}/fuzz-corpus
mkdir -p "$corpus_root"
status=0
shopt -s nullglob
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$corpus_root/$name"
  mkdir -p "$corpus"
  # A target may write its own seeds (built with testkit) when asked to.
  SONVEX_FUZZ_WRITE_SEEDS="$corpus" "$target" -runs=0 "$corpus" >/dev/null 2>&1 || true
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-artifacts-$name-" "$corpus" 2>"$build/$name.log"; then
    echo "fuzz: $name FOUND A FAULT; see $build/$name.log"
    tail -n 40 "$build/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|cov:' "$build/$name.log" | tail -n 2 || true
  fi
done
exit $status
