#!/usr/bin/env bash
# The whole test suite: set-up, a check of the sources' formatting, the build,
# every test, then the core tests once
# more under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# every fuzz target.
#
# The tests labelled "realtime" wait the program's long waits (30 s, 60 s,
# 15 s) on the real clock; they run once, in the first pass, not again under
# the sanitizers. `scripts/test.sh --quick` builds and runs the first pass
# without them, without the sanitizers and without the fuzz targets: the
# quick check while working, not the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${1:-} == --quick ]]; then
    bash scripts/setup.sh --check-format
    export LC_ALL=C.UTF-8 TZ=America/Sao_Paulo
    ctest --test-dir build --output-on-failure -j 2 --timeout 900 -LE realtime
    exit 0
fi
bash scripts/setup.sh --check-format --sanitize

export LC_ALL=C.UTF-8 TZ=America/Sao_Paulo
echo "== tests =="
ctest --test-dir build --output-on-failure -j 2 --timeout 900
echo "== core tests under ASan/UBSan (the real-time waits ran above) =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j 2 --timeout 900 -LE "nosan|realtime"
echo "== fuzz targets: a few seconds each from the kept corpus =="
bash scripts/fuzz.sh --smoke
