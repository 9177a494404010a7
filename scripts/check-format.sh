#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it
# (the style in .clang-format); with --fix, formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
FORMAT=$(command -v clang-format-14 || command -v clang-format || true)
if [[ -z "$FORMAT" ]]; then
    echo "check-format: clang-format is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
    "$FORMAT" -i "${files[@]}"
    exit 0
fi
if ! "$FORMAT" --dry-run --Werror "${files[@]}" 2> /tmp/vek-format.$$; then
    grep 'error:' /tmp/vek-format.$$ | cut -d: -f1 | sort -u | sed 's/^/check-format: not formatted: /' >&2
    rm -f /tmp/vek-format.$$
    echo "check-format: run 'bash scripts/check-format.sh --fix'" >&2
    exit 1
fi
rm -f /tmp/vek-format.$$
echo "check-format: ${#files[@]} files formatted as .clang-format says"
