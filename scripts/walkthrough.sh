#!/usr/bin/env bash
# A walk through the GUI as a new user takes it, with a screenshot of each step.
#   scripts/walkthrough.sh [BUILD_DIR] [OUT_DIR]
# Makes three realistic clips with ffmpeg (two H.264, one MJPEG AVI with sound) and a text file named
# .avi, then runs tessaron_walkthrough on them: under Xvfb when it is installed (real X11 rendering),
# offscreen otherwise. Screenshots and the driver's log go to OUT_DIR (default BUILD_DIR/walkthrough).
set -euo pipefail

BUILD=${1:-build}
OUT=${2:-$BUILD/walkthrough}
DRIVER=$BUILD/tests/walkthrough/tessaron_walkthrough
if [[ ! -x $DRIVER ]]; then
    echo "walkthrough: $DRIVER is missing; build the tree first (cmake --build $BUILD)" >&2
    exit 1
fi

mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
CLIPS=$OUT/clips
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"; [[ -n ${XVFB_PID:-} ]] && kill "$XVFB_PID" 2>/dev/null || true' EXIT
mkdir -p "$CLIPS"

ff() { ffmpeg -v error -nostdin -y "$@"; }
[[ -s $CLIPS/mandelbrot.mp4 ]] ||
    ff -f lavfi -i "mandelbrot=size=640x360:rate=25" -t 4 -c:v libx264 -pix_fmt yuv420p "$CLIPS/mandelbrot.mp4"
[[ -s $CLIPS/testcard.mp4 ]] ||
    ff -f lavfi -i "testsrc2=size=480x270:rate=25:duration=4" -c:v libx264 -pix_fmt yuv420p -g 50 "$CLIPS/testcard.mp4"
[[ -s $CLIPS/bars.avi ]] ||
    ff -f lavfi -i "smptehdbars=size=320x180:rate=25" -f lavfi -i "sine=frequency=440" -t 2 \
        -c:v mjpeg -q:v 3 -c:a pcm_s16le "$CLIPS/bars.avi"
[[ -s $CLIPS/uhd.mp4 ]] ||
    ff -f lavfi -i "testsrc2=size=3840x2160:rate=25" -t 0.2 -c:v libx264 -pix_fmt yuv420p "$CLIPS/uhd.mp4"
printf 'shopping list: bread, milk\n' > "$CLIPS/notes.avi"

run() {
    "$DRIVER" --out "$OUT" --work "$WORK" --large "$CLIPS/uhd.mp4" \
        "$CLIPS/mandelbrot.mp4" "$CLIPS/testcard.mp4" "$CLIPS/bars.avi" "$CLIPS/notes.avi"
}

status=0
if command -v Xvfb >/dev/null; then
    display=:$((90 + RANDOM % 100))
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    sleep 1
    DISPLAY=$display QT_QPA_PLATFORM=xcb run | tee "$OUT/walkthrough.log" || status=$?
else
    QT_QPA_PLATFORM=offscreen run | tee "$OUT/walkthrough.log" || status=$?
fi

# What the walk wrote, as ffprobe sees it.
for f in checked.avi crop.avi; do
    if [[ -f $WORK/$f ]]; then
        echo "$f: $(ffprobe -v error -count_frames -select_streams v:0 -show_entries \
            stream=width,height,r_frame_rate,nb_read_frames -of csv=p=0 "$WORK/$f")" | tee -a "$OUT/walkthrough.log"
    fi
done
# The pictures for the README, made from the screenshots with ImageMagick when it is there.
if command -v convert >/dev/null && [[ -f $OUT/09-sorted.png ]]; then
    mkdir -p "$OUT/docs"
    bg='#e8e8e8'
    # The main window with the selector beside it, after "Sort".
    convert "$OUT/09-sorted.png" "$OUT/09-sorted-selector.png" -background "$bg" -gravity north -splice 0x0 \
        +append -gravity east -splice 12x0 "$OUT/docs/screenshot-main.png"
    # The selector after "Sort": the plot of every frame's score over the list.
    cp "$OUT/09-sorted-selector.png" "$OUT/docs/screenshot-plot.png"
    # The selector made bigger: the plot and the list take the room.
    cp "$OUT/12-resized-selector.png" "$OUT/docs/screenshot-selector-resized.png"
    # Three videos, opened three ways, after Window > Cascade.
    cp "$OUT/05-cascaded.png" "$OUT/docs/screenshot-windows.png"
    # A crop box dragged over the picture; the status bar gives its corners and size.
    cp "$OUT/17-crop-box.png" "$OUT/docs/screenshot-crop.png"
    # A 3840x2160 video fitted into its window.
    cp "$OUT/29-large-fitted.png" "$OUT/docs/screenshot-fitted.png"
    # The same part of the same frame previewed at quality 5 and at quality 95.
    convert \( "$OUT/10-preview-q5-window.png" -crop 360x240+4+26 +repage \) \
        \( "$OUT/11-preview-q95-window.png" -crop 360x240+4+26 +repage \) \
        -background "$bg" -splice 8x0 +append -chop 8x0 "$OUT/docs/screenshot-preview.png"
    for f in "$OUT"/docs/*.png; do
        # 256 colours without dithering: the pictures stay sharp and small.
        convert "$f" -dither None -colors 256 PNG8:"$f"
    done
    ls -l "$OUT/docs"
fi
echo "screenshots in $OUT"
exit "$status"
