#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The main job on the bundled demo: compose a synthetic game image, rip it into a folder
# of MIDI and DLS files with sonvex-cli, build a segment of the first song with its own
# bank, and render that segment to FLAC.
#   scripts/demo.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
cli="$build/cli/sonvex-cli"
out=demo-out
rm -rf "$out"
mkdir -p "$out"
"$build/demo/compose-demo" "$out/DEMO.BIN"
echo
"$cli" rip "$out/DEMO.BIN" -o "$out/music"
echo
"$cli" segment "$out/music/DEMO_000.mid" "$out/music/DEMO_000.dls"
"$cli" render "$out/music/DEMO_000.sgt" -o "$out/DEMO_000.flac" --loops 2 --fade 10 -q
echo
echo "Made in $out/music:"
ls -l "$out/music"
echo
"$cli" info "$out/music/DEMO.clg"
echo
echo "Listen: $out/DEMO_000.flac (the first song with the game's own instruments)"
echo "Every song with its own bank, as tagged FLAC files with a playlist:"
echo "  $cli soundtrack $out/DEMO.BIN -o $out/album"
