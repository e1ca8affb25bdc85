#!/usr/bin/env bash
# Makes the starting corpus of each fuzz target in OUT/<target>/: a few small valid inputs from the
# ffmpeg command line (a small video of each container and codec for the media target), cjpeg and ImageMagick, the seed program built beside the fuzz targets (AVI
# layouts no encoder writes), and hand-written texts. Nothing here is kept in git.
set -euo pipefail
OUT=${1:?usage: make-seeds.sh OUT [AVI_SEED_PROGRAM]}
AVI_SEEDS=${2:-}
mkdir -p "$OUT"/fuzz_avi_reader "$OUT"/fuzz_ini_file "$OUT"/fuzz_jpeg_decode "$OUT"/fuzz_frame_order "$OUT"/fuzz_media
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# AVI: uncompressed at every depth the reader decodes, odd sizes, top-down rows, a stream after an
# audio stream, a compressed stream it cannot decode, and cut-off copies without their index.
avi=$OUT/fuzz_avi_reader
src=(-f lavfi -i testsrc=size=16x8:rate=5)
ff "${src[@]}" -frames:v 3 -c:v rawvideo -pix_fmt bgr24 "$avi/bgr24.avi"
ff -f lavfi -i testsrc=size=7x5:rate=5 -frames:v 3 -c:v rawvideo -pix_fmt bgr24 "$avi/bgr24-odd.avi"
ff "${src[@]}" -frames:v 3 -c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1 "$avi/bgr24-flipped.avi"
ff "${src[@]}" -frames:v 3 -c:v rawvideo -pix_fmt pal8 "$avi/pal8.avi"
ff -f lavfi -i testsrc=size=5x3:rate=5 -frames:v 4 -c:v rawvideo -pix_fmt pal8 "$avi/pal8-odd.avi"
ff "${src[@]}" -frames:v 3 -c:v rawvideo -pix_fmt rgb555le "$avi/rgb555.avi"
ff "${src[@]}" -frames:v 3 -c:v rawvideo -pix_fmt bgra "$avi/bgra.avi"
ff "${src[@]}" -frames:v 2 -c:v mjpeg "$avi/mjpeg.avi"
ff -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.6 -f lavfi -i testsrc=size=8x4:rate=5 \
   -map 0:a -map 1:v -t 0.6 -c:a pcm_u8 -c:v rawvideo -pix_fmt bgr24 "$avi/audio-first.avi"
ff "${src[@]}" -frames:v 3 -c:v rawvideo -pix_fmt bgr24 -reserve_index_space 256 "$avi/reserved-index.avi"
if [ -n "$AVI_SEEDS" ]; then
    "$AVI_SEEDS" "$avi"
fi
for f in bgr24 pal8; do
    size=$(stat -c %s "$avi/$f.avi")
    head -c $((size * 9 / 10)) "$avi/$f.avi" >"$avi/$f-cut.avi"
done

# INI: the settings file as users and the program leave it.
ini=$OUT/fuzz_ini_file
printf '[Tessaron]\ndeinterlaceFlag=1\n' >"$ini/plain.ini"
printf '[Tessaron]\r\ndeinterlaceFlag=0\r\n' >"$ini/crlf.ini"
printf '; settings\n[Other]\nkey = value\n\n[tessaron]\n  DeinterlaceFlag = " 12 "\n# end\n[Last]\nx=y' \
    >"$ini/mixed.ini"
printf '[Tessaron]\ndeinterlaceFlag=ERROR\n[Tessaron]\ndeinterlaceFlag=-7\n' >"$ini/twice.ini"
printf '[Tessaron]\nother=1\n\n\n[Next]\n\0Tessaron\0deinterlaceFlag\0 5' >"$ini/parts.bin"
printf '[A]\nk=v\n\0A\0k\0new value' >"$ini/rewrite.bin"

# JPEG: baseline colour and grey, progressive, restart markers, arithmetic coding, no subsampling,
# odd sizes, CMYK.
jpg=$OUT/fuzz_jpeg_decode
convert -size 17x9 gradient:red-blue "$tmp/colour.ppm"
convert -size 16x16 gradient:white-black -colorspace Gray "$tmp/grey.pgm"
cjpeg -quality 75 "$tmp/colour.ppm" >"$jpg/baseline.jpg"
cjpeg -quality 90 -grayscale "$tmp/grey.pgm" >"$jpg/grey.jpg"
cjpeg -progressive "$tmp/colour.ppm" >"$jpg/progressive.jpg"
cjpeg -restart 1 -optimize "$tmp/colour.ppm" >"$jpg/restart.jpg"
cjpeg -arithmetic "$tmp/colour.ppm" >"$jpg/arithmetic.jpg"
cjpeg -sample 1x1 -quality 5 "$tmp/colour.ppm" 2>/dev/null >"$jpg/444.jpg"
convert "$jpg/baseline.jpg" -colorspace CMYK "$jpg/cmyk.jpg"

# Frame order keys as the program writes them, and texts sscanf reads in its own way.
key=$OUT/fuzz_frame_order
printf '0000000987 37' >"$key/key.txt"
printf -- '-000000120 5' >"$key/negative.txt"
printf '0000000001 1\n0000000000 0\n0000000010 10\n0000000009 9\n-000000005 3' >"$key/order.txt"
printf ' \t+12\n -34 tail' >"$key/blanks.txt"
printf '99999999999999999999 -2147483649' >"$key/overflow.txt"
printf '\x05\x00\x00\x00\x07\x00\x00\x00' >"$key/binary.bin"

# Media: one small file of each container and codec a user brings (and a few only FFmpeg reads), a few
# frames of 32x24 each, B-frames and several key frames where the codec has them, rotated and
# interlaced material, a stream after an audio stream, and a copy cut off in the middle.
media=$OUT/fuzz_media
msrc=(-f lavfi -i testsrc=size=32x24:rate=25 -frames:v 8)
ff "${msrc[@]}" -c:v libx264 -preset ultrafast -bf 2 -g 4 -pix_fmt yuv420p "$media/h264.mp4"
ff "${msrc[@]}" -c:v libx264 -preset ultrafast -bf 2 -g 4 -pix_fmt yuv420p -f h264 "$media/h264.264"
ff "${msrc[@]}" -c:v libx264 -preset ultrafast -g 4 -pix_fmt yuv420p -metadata:s:v rotate=90 "$media/rotated.mov"
ff "${msrc[@]}" -c:v libx265 -preset ultrafast -x265-params log-level=none -g 4 -pix_fmt yuv420p "$media/hevc.mkv"
ff "${msrc[@]}" -c:v libvpx-vp9 -deadline realtime -g 4 "$media/vp9.webm"
ff "${msrc[@]}" -c:v libvpx -deadline realtime -g 4 "$media/vp8.webm"
ff "${msrc[@]}" -c:v libaom-av1 -cpu-used 8 -g 4 "$media/av1.mkv"
ff "${msrc[@]}" -c:v mpeg4 -bf 1 -g 4 "$media/mpeg4.avi"
ff "${msrc[@]}" -c:v mjpeg "$media/mjpeg.avi"
ff "${msrc[@]}" -c:v mpeg2video -bf 2 -g 4 -flags +ilme+ildct -top 1 -f mpegts "$media/mpeg2.ts"
ff "${msrc[@]}" -c:v mpeg1video -g 4 -f mpeg "$media/mpeg1.mpg"
ff "${msrc[@]}" -c:v libtheora -g 4 "$media/theora.ogv"
ff "${msrc[@]}" -c:v flv -g 4 "$media/flv.flv"
ff "${msrc[@]}" -c:v prores -profile:v 0 -pix_fmt yuv422p10le "$media/prores.mov"
ff "${msrc[@]}" -c:v ffv1 "$media/ffv1.mkv"
ff "${msrc[@]}" -c:v wrapped_avframe -pix_fmt yuv420p "$media/raw.y4m"
ff "${msrc[@]}" -c:v gif "$media/anim.gif"
ff "${msrc[@]}" -c:v rawvideo -pix_fmt pal8 "$media/pal8.avi"
ff -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.8 "${msrc[@]}" -map 0:a -map 1:v -t 0.8 \
   -c:a aac -c:v libx264 -preset ultrafast -g 4 -pix_fmt yuv420p "$media/audio-first.mp4"
size=$(stat -c %s "$media/h264.mp4")
head -c $((size * 2 / 3)) "$media/h264.mp4" >"$media/h264-cut.mp4"
