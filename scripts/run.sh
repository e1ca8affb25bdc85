#!/usr/bin/env bash
# make run: start the GUI on the sample video, or show what the CLI knows of it without a display.
set -euo pipefail
build="$1"; sample="$2"
if [ -x "$build/gui/tessaron" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$build/gui/tessaron" "$sample"
fi
if [ -x "$build/gui/tessaron" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY unset): showing the sample with tessaron-cli info instead."
fi
if [ -x "$build/cli/tessaron-cli" ]; then
  exec "$build/cli/tessaron-cli" info "$sample"
fi
echo "Nothing runnable was built yet." >&2
exit 1
