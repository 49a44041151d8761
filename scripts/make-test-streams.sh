#!/usr/bin/env bash
# Generates the real encoder material the parser tests read (H.264, MPEG-4
# Part 2 and Motion JPEG from ffmpeg, RTP datagrams recorded from ffmpeg's RTP
# muxer). Usage: scripts/make-test-streams.sh OUTPUT_DIR
# then run the tests with HALVENCAP_STREAMS=OUTPUT_DIR.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:?usage: make-test-streams.sh OUTPUT_DIR}"
exec python3 "$ROOT/tests/parsers/streams/make_test_streams.py" "$OUT"
