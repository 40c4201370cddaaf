#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Scan throughput on a composed 512 MiB game image, printed beside the plain read speed of
# the same file from the page cache (cat to /dev/null and a 128 KiB read loop); medians of
# several runs. Usage: scripts/run-bench.sh BUILD_DIR   (runs: SONVEX_BENCH_RUNS, default 5)
set -euo pipefail

build=${1:-build}
runs=${SONVEX_BENCH_RUNS:-5}
bench="$build/bench/scan_bench"
if [[ ! -x "$bench" ]]; then
    echo "run-bench: $bench is missing; configure with -DSONVEX_BUILD_BENCH=ON and build it" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SONVEX_SCAN_IMAGE="$work/disc.img"

echo "load: $(uptime)"
# Composes the image (first run only) and warms the page cache.
"$bench" --benchmark_filter='^BM_PlainRead' --benchmark_min_time=0.01 >/dev/null
cat "$SONVEX_SCAN_IMAGE" >/dev/null

cat_times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    cat "$SONVEX_SCAN_IMAGE" >/dev/null
    end=$(date +%s%N)
    cat_times+=($(( (end - start) / 1000 )))
done

"$bench" --benchmark_repetitions="$runs" --benchmark_out="$work/result.json" \
    --benchmark_out_format=json >/dev/null

/usr/bin/python3 - "$work/result.json" "$(stat -c %s "$SONVEX_SCAN_IMAGE")" "${cat_times[@]}" <<'EOF'
import json, statistics, sys

result, size = sys.argv[1], int(sys.argv[2])
cat_us = [int(t) for t in sys.argv[3:]]
runs = {}
feedback = {}
for b in json.load(open(result))["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    name = b["run_name"].split("/")[0]
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    runs.setdefault(name, []).append(b["real_time"] * scale)
    if "feedback_percent" in b:
        feedback.setdefault(name, []).append(b["feedback_percent"])

def rate(seconds):
    return size / seconds / 1e6

plain = rate(statistics.median(cat_us) / 1e6)
print(f"image: {size} bytes; medians of {len(cat_us)} runs")
print(f"{'cat to /dev/null':32} {plain:9.0f} MB/s")
for name, times in runs.items():
    mbs = rate(statistics.median(times))
    line = f"{name:32} {mbs:9.0f} MB/s  {100 * mbs / plain:5.1f}% of cat"
    if name in feedback:
        line += f"  feedback calls {statistics.median(feedback[name]):.3f}% of the scan time"
    print(line)
EOF

# Sparse, realistic and dense images side by side, each against cat in the same run.
if [[ -x "$build/bench/composition_bench" ]]; then
    "$build/bench/composition_bench" --mib "${SONVEX_COMPOSITION_MIB:-64}" --rounds "$runs"
fi

# A disc image of raw sectors: the scan of the files inside it against cat of the image.
if [[ -x "$build/bench/disc_scan_bench" ]]; then
    SONVEX_DISC_ROUNDS="$runs" "$build/bench/disc_scan_bench"
fi
