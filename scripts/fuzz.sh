#!/usr/bin/env bash
# The libFuzzer targets of tests/fuzz, built with clang, ASan and UBSan into
# build-fuzz/ (or $VEK_FUZZ_BUILD).
#
#   bash scripts/fuzz.sh [SECONDS]        each target in turn for SECONDS (default 600);
#                                         stops at the first finding and names its reproducer
#   bash scripts/fuzz.sh --smoke          a few seconds per target from the kept corpus (the test command)
#   bash scripts/fuzz.sh --seeds          writes the kept corpus again (tests/fuzz/corpus)
#   FUZZ_TARGETS="data_packet ini_reader" bash scripts/fuzz.sh 300     only those targets
#
# A long run keeps what it learns in build-fuzz/fuzz-corpus/<target> (the kept
# corpus is only read) and writes reproducers to build-fuzz/fuzz-findings/.
# Replay one with: build-fuzz/fuzz/fuzz_<target> <reproducer>
set -euo pipefail
cd "$(dirname "$0")/.."

TARGETS=(message_reading list_history_query channel_operations ftp_replies download_session data_packet
         parameter_file gzip_expansion ini_reader zebd_request_fields zebd_upload_decoder zebd_session)
[[ -n "${FUZZ_TARGETS:-}" ]] && read -r -a TARGETS <<<"$FUZZ_TARGETS"

MODE=run
SECONDS_EACH=600
case "${1:-}" in
    --smoke) MODE=smoke ;;
    --seeds) MODE=seeds ;;
    "") ;;
    *[!0-9]*) echo "usage: $0 [SECONDS] | --smoke | --seeds" >&2; exit 2 ;;
    *) SECONDS_EACH=$1 ;;
esac

BUILD=${VEK_FUZZ_BUILD:-build-fuzz}
CC_BIN=$(command -v clang-14 || command -v clang || true)
CXX_BIN=$(command -v clang++-14 || command -v clang++ || true)
if [[ -z "$CC_BIN" || -z "$CXX_BIN" ]]; then
    echo "fuzz: clang is missing (bash scripts/setup.sh installs it)" >&2
    exit 1
fi

# The other builds of this machine keep priority.
NICE=(nice -n 10)
export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=1
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$CC_BIN" \
    -DCMAKE_CXX_COMPILER="$CXX_BIN" -DVEK_FUZZ=ON -DVEK_BUILD_UI=OFF -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=OFF \
    "${LAUNCHER[@]}" >/dev/null
BUILT=(vek_fuzz)
[[ $MODE == seeds ]] && BUILT=(vek_fuzz_seeds)
"${NICE[@]}" cmake --build "$BUILD" -j "$(nproc)" --target "${BUILT[@]}"

if [[ $MODE == seeds ]]; then
    "$BUILD/fuzz/vek_fuzz_seeds" tests/fuzz
    exit 0
fi

# The known fault (tests/fuzz/known-faults.txt) that a target's log shows, if any.
knownFault() {
    local target message frame what
    while IFS=$'\t' read -r target message frame what; do
        [[ -z "$target" || "$target" == \#* || "$target" != "$1" ]] && continue
        if grep -Eq "$message" "$2" && grep -Eq "$frame" "$2"; then
            echo "$what"
            return 0
        fi
    done <tests/fuzz/known-faults.txt
    return 1
}

export LC_ALL=C.UTF-8 TZ=America/Sao_Paulo
FINDINGS="$BUILD/fuzz-findings"
mkdir -p "$FINDINGS"
SUMMARY=()
KNOWN=()
for t in "${TARGETS[@]}"; do
    seeds=tests/fuzz/corpus/$t
    if [[ $MODE == smoke ]]; then
        work=$(mktemp -d)
        flags=(-max_total_time=4 -seed=1)
    else
        work=$BUILD/fuzz-corpus/$t
        mkdir -p "$work"
        flags=(-max_total_time="$SECONDS_EACH")
    fi
    log=$BUILD/fuzz-$t.log
    start=$(date +%s)
    status=0
    "${NICE[@]}" "$BUILD/fuzz/fuzz_$t" "${flags[@]}" -max_len=16384 -timeout=120 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$FINDINGS/$t-" "$work" "$seeds" >"$log" 2>&1 || status=$?
    [[ $MODE == smoke ]] && rm -rf "$work"
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\).*/cov \1 ft \2/p' <<<"$done_line")
    SUMMARY+=("$(printf '%-22s %5ss  %8s exec/s  %s' "$t" "$(($(date +%s) - start))" "${execs:-?}" "${cov:-?}")")
    if ((status != 0)) && [[ $MODE == smoke ]] && known=$(knownFault "$t" "$log"); then
        echo "${SUMMARY[-1]}  (stopped on a known fault: $known)"
        KNOWN+=("$t")
        continue
    fi
    if ((status != 0)); then
        echo "fuzz: $t found something (exit $status); the end of its log ($log):" >&2
        grep -v '^#[0-9]' "$log" | tail -40 >&2
        reproducer=$(sed -n "s/.*Test unit written to \(.*\)/\1/p" "$log" | tail -1)
        echo "fuzz: reproducer: ${reproducer:-none written}; replay: $BUILD/fuzz/fuzz_$t ${reproducer:-}" >&2
        exit 1
    fi
    echo "${SUMMARY[-1]}"
done
echo "fuzz: ${#TARGETS[@]} targets, no new finding${KNOWN:+; stopped on a known fault: ${KNOWN[*]}}"
