#!/usr/bin/env bash
# The whole test suite: set-up, a check of the sources' formatting, the build,
# every test, then the core tests once
# more under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --check-format --sanitize

export LC_ALL=C.UTF-8 TZ=America/Sao_Paulo
echo "== tests =="
ctest --test-dir build --output-on-failure -j 2 --timeout 900
echo "== core tests under ASan/UBSan =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j 2 --timeout 900 -LE nosan
echo "== fuzz targets: a few seconds each from the kept corpus =="
bash scripts/fuzz.sh --smoke
