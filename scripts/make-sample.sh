#!/usr/bin/env bash
# Makes the bundled sample video: a short, detailed clip, so nothing binary is committed.
set -euo pipefail
out="$1"
mkdir -p "$(dirname "$out")"
[ -s "$out" ] && exit 0
tmp="$out.tmp.avi"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" \
  -vf "drawtext=text='%{n}':x=10:y=10:fontsize=32:fontcolor=white:box=1:boxcolor=black@0.6" \
  -c:v rawvideo -pix_fmt bgr24 "$tmp" 2>/dev/null \
|| ffmpeg -v error -y -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" \
  -c:v rawvideo -pix_fmt bgr24 "$tmp"
mv "$tmp" "$out"
