#!/usr/bin/env bash
# Checks that every tracked C++ file matches .clang-format; lists the files that do not and exits 1.
# "check-format.sh --fix" rewrites those files in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  *) echo "usage: $0 [--fix]" >&2; exit 2 ;;
esac

if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h')

bad=()
for f in "${files[@]}"; do
  if ! clang-format --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
    bad+=("$f")
  fi
done

if [ ${#bad[@]} -eq 0 ]; then
  exit 0
fi

if [ "$fix" = 1 ]; then
  clang-format --style=file -i "${bad[@]}"
  printf 'check-format: reformatted %s\n' "${bad[@]}"
  exit 0
fi

printf '%s\n' "${bad[@]}"
echo "check-format: ${#bad[@]} file(s) do not match .clang-format; run scripts/check-format.sh --fix" >&2
exit 1
