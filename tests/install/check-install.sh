#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what lands there: the two programs, the
# icon theme files and the .desktop entry, nothing else (no tests, benchmarks or tools); and that the
# cli component is tessaron-cli alone, without Qt. Referees:
# desktop-file-validate, Pillow, ffmpeg; the installed tessaron-cli must run.
# Usage: check-install.sh BUILD_DIR
set -uo pipefail
build=${1:?usage: check-install.sh BUILD_DIR}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tessaron-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat "$prefix.log"; rm -f "$prefix.log"
  echo "FAIL: cmake --install"; exit 1
fi
rm -f "$prefix.log"

sizes="32 48 64 128"
expected=$( {
  echo bin/tessaron
  echo bin/tessaron-cli
  echo share/applications/tessaron.desktop
  for s in $sizes; do echo "share/icons/hicolor/${s}x${s}/apps/tessaron.png"; done
} | sort)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's#^\./##' | sort)
if [ "$actual" != "$expected" ]; then
  fail "installed files differ from the expected set"
  diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /'
fi
for p in tessaron tessaron-cli; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p is not executable"
  if ldd "$prefix/bin/$p" 2>/dev/null | grep -q "not found"; then fail "bin/$p: missing libraries"; fi
done

# The menu entry: valid (no errors, warnings or hints), starting the installed program with its icon.
desktop="$prefix/share/applications/tessaron.desktop"
if ! command -v desktop-file-validate >/dev/null; then
  fail "desktop-file-validate missing (scripts/install-deps.sh installs desktop-file-utils)"
else
  report=$(desktop-file-validate "$desktop" 2>&1)
  [ $? -eq 0 ] && [ -z "$report" ] || fail "desktop-file-validate: $report"
fi
key() { sed -n "s/^$1=//p" "$desktop"; }
exec_program=$(key Exec | awk '{print $1}')
[ -x "$prefix/bin/$exec_program" ] || fail "Exec starts '$exec_program', which is not in bin/"
[ "$(key Icon)" = tessaron ] || fail "Icon is '$(key Icon)', not the installed theme icon tessaron"
for mime in video/x-msvideo video/mp4 video/x-matroska video/webm video/quicktime; do
  key MimeType | tr ';' '\n' | grep -qx "$mime" || fail "MimeType lacks $mime"
done

# Icons: PNG of their folder's size, with a transparent background.
for s in $sizes; do
  png="$prefix/share/icons/hicolor/${s}x${s}/apps/tessaron.png"
  [ -f "$png" ] || continue
  got=$(/usr/bin/python3 -c '
import sys
from PIL import Image
im = Image.open(sys.argv[1])
print(im.format, im.size[0], im.size[1], im.convert("RGBA").getpixel((0, 0))[3])' "$png" 2>&1)
  [ "$got" = "PNG $s $s 0" ] || fail "$png: '$got', expected 'PNG $s $s 0'"
done

# The installed command-line program works on its own.
help=$("$prefix/bin/tessaron-cli" --help 2>&1)
[ $? -eq 0 ] || fail "tessaron-cli --help exited with an error"
echo "$help" | grep -q "info" || fail "tessaron-cli --help does not list its commands"
video="$prefix/clip.avi"
if ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 10 -c:v rawvideo -pix_fmt bgr24 "$video"; then
  info=$("$prefix/bin/tessaron-cli" info --json "$video" 2>&1)
  echo "$info" | grep -q '"frameCount": *10[,}]' || fail "installed tessaron-cli info: $info"
else
  fail "ffmpeg could not make the test clip"
fi

# The command-line program alone, for machines without Qt: one file, linking no Qt library.
cli_prefix="$prefix/cli-only"
if cmake --install "$build" --component cli --prefix "$cli_prefix" >/dev/null 2>&1; then
  cli_files=$(cd "$cli_prefix" && find . -type f -o -type l | sed 's#^\./##' | sort)
  [ "$cli_files" = "bin/tessaron-cli" ] || fail "--component cli installed: $cli_files"
  if ldd "$cli_prefix/bin/tessaron-cli" | grep -qi 'libQt'; then
    fail "tessaron-cli links Qt: $(ldd "$cli_prefix/bin/tessaron-cli" | grep -i libQt | tr -s ' \t' ' ')"
  fi
else
  fail "cmake --install --component cli"
fi

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "install into a temporary prefix: $(echo "$actual" | wc -l) files, all checks passed"
