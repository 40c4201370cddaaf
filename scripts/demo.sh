#!/usr/bin/env bash
# The main job on the bundled demo: compose a synthetic game image and rip it into a
# folder of MIDI and DLS files with sonvex-cli.
#   scripts/demo.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
out=demo-out
rm -rf "$out"
mkdir -p "$out"
"$build/demo/compose-demo" "$out/DEMO.BIN"
echo
"$build/cli/sonvex-cli" rip "$out/DEMO.BIN" -o "$out/music"
echo
echo "Made in $out/music:"
ls -l "$out/music"
echo
"$build/cli/sonvex-cli" info "$out/music/DEMO.clg"
