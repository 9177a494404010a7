#!/usr/bin/env bash
# Uploads at a distance and at size, against a zebd on loopback:
# - the latency relay's own streaming rate at 2, 10 and 25 ms one-way;
# - a 20 MB random upload through the relay at those delays for windows
#   1, 8, 32, 128, 512, 1024 and 4096 (the largest the key accepts; the
#   stop-and-wait runs go in parallel, since they only wait), each beside
#   the physical limit of its window: N blocks of
#   1280 bytes per measured round trip, or the relay's streaming rate when
#   that is lower (window_MB_s, relay_MB_s, limit_MB_s, ratio_window_limit);
#   and the block phase alone, from the first block's reply to the last
#   one's, beside the relay's steady rate once its first bytes are through
#   (blocks_MB_s, relay_steady_MB_s, steady_limit_MB_s, ratio_blocks_limit):
#   the whole upload also pays the exchange's four fixed round trips (key,
#   hash, size, end of data) and the window's first fill;
# - peak resident memory of vek-cli sending 1 GiB of random bytes, beside the
#   same program sending 1 MiB (/usr/bin/time's maximum resident size, which
#   is getrusage's ru_maxrss).
# Usage: bench/run_window.sh [BUILD_DIR]   (work files in $VEK_BENCH_DIR/window)
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${1:-build}/bin
WORK=${VEK_BENCH_DIR:-/tmp/vek-bench}/window
rm -rf "$WORK"
mkdir -p "$WORK/in" "$WORK/cliente"
export LC_ALL=C.UTF-8

head -c 20000000 /dev/urandom >"$WORK/in/aleatorio-20mb.bin"
head -c 1048576 /dev/urandom >"$WORK/in/aleatorio-1mib.bin"
head -c 1073741824 /dev/urandom >"$WORK/in/aleatorio-1gib.bin"

"$BIN/zebd" --demo --dados "$WORK/dados" --porta 0 --porta-ftp 0 --limite-envio 2147483647 >"$WORK/zebd.out" 2>&1 &
ZEBD=$!
trap 'kill $ZEBD 2>/dev/null; wait $ZEBD 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    PORT=$(sed -n 's/.*zebd: mensagens [0-9.]*:\([0-9]*\) .*/\1/p' "$WORK/zebd.out" | head -1)
    [ -n "$PORT" ] && break
    sleep 0.2
done
echo "zebd on port $PORT; load average: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== relay streaming rate (20 MiB) =="
declare -A RATE STEADY
for d in 2 10 25; do
    # Three runs; the one with the median steady rate stands for the delay.
    runs=$(for _ in 1 2 3; do "$BIN/window_bench" relay --atraso-ms $d --mb 20; done | sort -t= -k6 -g)
    echo "$runs"
    line=$(sed -n 2p <<<"$runs")
    echo "median: $line"
    RATE[$d]=$(sed -n 's/.* MB_s=\([0-9.]*\).*/\1/p' <<<"$line")
    STEADY[$d]=$(sed -n 's/.*steady_MB_s=\([0-9.]*\).*/\1/p' <<<"$line")
done

echo "== 20 MB random upload through the relay =="
run() { # delay window [extra options]
    local dir="$WORK/cliente/d$1-n$2"
    mkdir -p "$dir"
    VEK_DIR="$dir" TMPDIR="$dir" "$BIN/window_bench" upload --porta "$PORT" --atraso-ms "$1" --janela "$2" \
        --arquivo "$WORK/in/aleatorio-20mb.bin" --rt-ms "${RT[$1]}" --relay-mb-s "${RATE[$1]}" \
        --relay-steady-mb-s "${STEADY[$1]}"
}
echo "== stop-and-wait floor through the relay (1285-byte frame, 5-byte reply) =="
declare -A RT
for d in 2 10 25; do
    line=$("$BIN/window_bench" pingpong --atraso-ms $d --vezes $((8000 / d)))
    echo "$line"
    RT[$d]=$(sed -n 's/.*rt_ms=\([0-9.]*\).*/\1/p' <<<"$line")
done
PIDS=()
for d in 2 10 25; do
    run $d 1 >"$WORK/n1-$d.txt" &
    PIDS+=($!)
done
for d in 2 10 25; do
    for n in 8 32 128 512 1024 4096; do run $d $n; done
done
wait "${PIDS[@]}"
cat "$WORK"/n1-*.txt

echo "== the largest window beside the relay, in pairs =="
# The relay's rate moves by a factor of 1.5 from one minute to the next on a
# shared machine, so each upload with the largest window is set beside a
# relay run of the moment before it; the ratios are per pair.
for d in 2 10 25; do
    for _ in 1 2 3 4 5; do
        line=$("$BIN/window_bench" relay --atraso-ms $d --mb 20)
        rate=$(sed -n 's/.* MB_s=\([0-9.]*\).*/\1/p' <<<"$line")
        steady=$(sed -n 's/.*steady_MB_s=\([0-9.]*\).*/\1/p' <<<"$line")
        dir="$WORK/cliente/par-d$d"
        mkdir -p "$dir"
        out=$(VEK_DIR="$dir" TMPDIR="$dir" "$BIN/window_bench" upload --porta "$PORT" --atraso-ms $d --janela 4096 \
            --arquivo "$WORK/in/aleatorio-20mb.bin" --rt-ms "${RT[$d]}" --relay-mb-s "$rate" --relay-steady-mb-s "$steady")
        rm -rf "$dir"
        echo "pair atraso_ms=$d relay_MB_s=$rate relay_steady_MB_s=$steady" \
            "$(sed -n 's/.*janela=4096 blocks=.* MB_s=\([0-9.]*\) limit_1_s.*/upload_MB_s=\1/p' <<<"$out")" \
            "$(sed -n 's/.*ratio_window_limit=\([0-9.]*\).*/ratio_whole_limit=\1/p' <<<"$out")" \
            "$(sed -n 's/.*blocks_MB_s=\([0-9.]*\).*ratio_blocks_limit=\([0-9.]*\).*/blocks_MB_s=\1 ratio_blocks=\2/p' <<<"$out")"
    done
done

echo "== peak resident memory of vek-cli enviar (KiB) =="
printf '[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=%s\r\n' "$PORT" >"$WORK/cliente/vek.INI"
for f in aleatorio-1mib.bin aleatorio-1gib.bin; do
    VEK_DIR="$WORK/cliente" TMPDIR="$WORK/cliente" VEK_SENHA=demo /usr/bin/time -f "$f maxrss_KiB=%M s=%e" \
        "$BIN/vek-cli" enviar --registro 123456 --tipo XML "$WORK/in/$f" >/dev/null
done
rm -f "$WORK/in/aleatorio-1gib.bin"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
