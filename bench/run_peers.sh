#!/usr/bin/env bash
# Runs our benchmark programs and the independent peers on the same files, in
# the same run, and prints times and ratios (ours / peer throughput; above 1
# means we are faster). Every figure, ours and the peers', is the best of REPS
# runs. Inputs: VEK_BENCH_DIR (default /tmp/vek-bench), 256 MiB each, generated
# by the benchmark programs on first use. Nothing is written into the
# repository. pigz and isal (igzip), peers for the benchmark only, are
# installed when missing. The compressed sizes of the three corpora (the two
# inputs and realtext.txt, the licence texts and manual pages this machine
# ships) follow the times.
#
#   bench/run_peers.sh            # uses build/bin
#   BIN=/path/to/bin REPS=5 bench/run_peers.sh
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
BIN=${BIN:-$here/../build/bin}
REPS=${REPS:-3}
export VEK_BENCH_DIR=${VEK_BENCH_DIR:-/tmp/vek-bench}
mkdir -p "$VEK_BENCH_DIR/temp"
compressible=$VEK_BENCH_DIR/compressible.xml
random=$VEK_BENCH_DIR/random.bin
text=$VEK_BENCH_DIR/realtext.txt

# pigz and igzip are peers for the benchmark only, so the project's set-up
# does not install them.
for pair in pigz:pigz igzip:isal; do
    tool=${pair%%:*} package=${pair#*:}
    if ! command -v "$tool" >/dev/null; then
        SUDO=""
        [[ $(id -u) -ne 0 ]] && SUDO="sudo"
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$package" >/dev/null ||
            { echo "missing peer: $tool (apt-get install $package)" >&2; exit 1; }
    fi
done
for tool in gzip pigz igzip openssl rhash python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing peer: $tool" >&2; exit 1; }
done

# best seconds per iteration over REPS repetitions (the statistic the peers get
# below), then the named counters (peak RSS, enciphered MiB, RSS before the
# runs, gzip bytes) and the CPU seconds, of the one benchmark matching $2. The
# report is read only once the benchmark has ended: a reader started beside it
# (python3 takes about a third of a second of CPU to start here) would take
# that time from the benchmark's threads.
ours() {
    local report
    report=$("$BIN/$1" --benchmark_filter="^$2/" --benchmark_repetitions="$REPS" --benchmark_format=json 2>/dev/null)
    python3 -c '
import json, sys
runs = [b for b in json.load(sys.stdin)["benchmarks"] if b.get("run_type", "iteration") == "iteration"]
b = min(runs, key=lambda r: r["real_time"])
scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
print("%.4f %.1f %.1f %.1f %d %.4f" % (b["real_time"] * scale, max(r.get("maxrss_MiB", 0) for r in runs),
                                    b.get("enciphered_MiB", 0), min(r.get("baseline_MiB", 0) for r in runs),
                                    b.get("gzip_bytes", 0), b["cpu_time"] * scale))' <<<"$report"
}

# best wall time in seconds of a shell command over REPS runs
peer() {
    local best="" t
    for _ in $(seq "$REPS"); do
        /usr/bin/time -f "%e" -o "$VEK_BENCH_DIR/temp/time.txt" sh -c "$1" >/dev/null 2>&1
        t=$(tail -1 "$VEK_BENCH_DIR/temp/time.txt")
        if [[ -z $best ]] || python3 -c "import sys; sys.exit(0 if $t < $best else 1)"; then best=$t; fi
    done
    echo "$best"
}

ratio() { python3 -c "print('%.2f' % ($2 / $1))"; }
least() { python3 -c "print(min($1, $2))"; }
most() { python3 -c "print(max($1, $2))"; }
mibps() { python3 -c "print('%.0f' % (256 / $1))"; }

# Make sure both inputs exist before any peer runs.
"$BIN/checksum_bench" --benchmark_filter=NONE >/dev/null 2>&1 || true
"$BIN/upload_preparation_bench" --benchmark_filter=NONE >/dev/null 2>&1 || true
[[ -f $compressible && -f $random && -f $text ]] ||
    { "$BIN/upload_preparation_bench" --benchmark_filter=Zlib >/dev/null; }

key=$(python3 -c "print('ab' * 24)")
iv=$(python3 -c "print('cd' * 16)")
out=$VEK_BENCH_DIR/temp/peer.out

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-48s %10s %9s %8s\n' "case" "seconds" "MiB/s" "ratio"
line() { printf '%-48s %10s %9s %8s\n' "$1" "$2" "$(mibps "$2")" "${3:-}"; }

for kind in Compressible Random; do
    file=$compressible
    [[ $kind == Random ]] && file=$random
    # Ours and the peers take turns, once each per round, so a change in the
    # machine's load during the run falls on all of them alike.
    t_prep=999999 t_zlib=999999 t_tgz=999999 t_pipe=999999 t_ppipe=999999 t_ipipe=999999 t_pigz=999999
    t_igzip=999999 rss=0 base=999999
    for _ in $(seq "$REPS"); do
        read -r t r e b _ _ < <(REPS=1 ours upload_preparation_bench "BM_PrepareUpload_$kind")
        t_prep=$(least "$t_prep" "$t") rss=$(most "$rss" "$r") enc=$e base=$(least "$base" "$b")
        t_ipipe=$(least "$t_ipipe" "$(REPS=1 peer "igzip -1 -c '$file' | openssl enc -aes-192-cbc -K $key -iv $iv > '$out'")")
        t_pipe=$(least "$t_pipe" "$(REPS=1 peer "gzip -1 -c '$file' | openssl enc -aes-192-cbc -K $key -iv $iv > '$out'")")
        t_ppipe=$(least "$t_ppipe" "$(REPS=1 peer "pigz -1 -c '$file' | openssl enc -aes-192-cbc -K $key -iv $iv > '$out'")")
        read -r t _ _ _ _ < <(REPS=1 ours upload_preparation_bench "BM_ZlibLevel1_$kind")
        t_zlib=$(least "$t_zlib" "$t")
        read -r t _ _ _ _ < <(REPS=1 ours upload_preparation_bench "BM_TGzipLevel1_$kind")
        t_tgz=$(least "$t_tgz" "$t")
        t_pigz=$(least "$t_pigz" "$(REPS=1 peer "pigz -1 -c '$file' > '$out'")")
        t_igzip=$(least "$t_igzip" "$(REPS=1 peer "igzip -1 -c '$file' > '$out'")")
    done
    line "prepareUpload, $kind" "$t_prep"
    line "  peer: igzip -1 | openssl aes-192-cbc" "$t_ipipe" "$(ratio "$t_prep" "$t_ipipe")"
    line "  peer: gzip -1 | openssl aes-192-cbc" "$t_pipe" "$(ratio "$t_prep" "$t_pipe")"
    line "  peer: pigz -1 | openssl aes-192-cbc" "$t_ppipe" "$(ratio "$t_prep" "$t_ppipe")"
    line "  zlib level 1 alone, one core (file to file)" "$t_zlib" "$(ratio "$t_prep" "$t_zlib")"
    line "TGzip level 1 alone, $kind" "$t_tgz"
    line "  peer: igzip -1 alone" "$t_igzip" "$(ratio "$t_tgz" "$t_igzip")"
    line "  peer: pigz -1 alone" "$t_pigz" "$(ratio "$t_tgz" "$t_pigz")"
    python3 -c "print('  peak RSS %.1f MiB = %.1f MiB before the runs + %.1f MiB (%.1f MiB enciphered, kept on disk)'
                      % ($rss, $base, $rss - $base, $enc))"
done

# How the two cores are used: the preparation's pipeline (gzip work file,
# cipher, block file) with one deflating thread (deflate on one core, cipher
# and writing on the other) and with two (pieces deflated on both cores beside
# the cipher), each also without the gzip work file (sent to /dev/null) to
# show what writing it costs. Best wall time of REPS and the CPU seconds of
# all threads in that run.
printf '%-48s %10s %10s\n' "pipeline (threads, gzip work file)" "seconds" "CPU s"
for kind in Compressible Random; do
    for threads in 1 2; do
        for written in 1 0; do
            read -r t _ _ _ _ c < <(ours upload_preparation_bench "gzipCipher/$kind/$threads/$written")
            printf '%-48s %10s %10s\n' "$kind, $threads deflating, work file $([[ $written == 1 ]] && echo written || echo "to /dev/null")" "$t" "$c"
        done
    done
done

# Compressed sizes (bytes of the gzip file; ours is the level-1 gzip of the
# upload, whose enciphered copy has the same size).
printf '%-14s %12s %12s %9s %12s %9s %12s %12s\n' corpus input "zlib -1" "of input" ours "vs zlib" "igzip -1" "pigz -1"
for kind in Compressible Random Text; do
    case $kind in Compressible) file=$compressible ;; Random) file=$random ;; Text) file=$text ;; esac
    read -r _ _ _ _ zsize _ < <(REPS=1 ours upload_preparation_bench "BM_ZlibLevel1_$kind")
    read -r _ _ _ _ osize _ < <(REPS=1 ours upload_preparation_bench "BM_TGzipLevel1_$kind")
    isize=$(igzip -1 -c "$file" | wc -c)
    psize=$(pigz -1 -c "$file" | wc -c)
    insize=$(stat -c %s "$file")
    printf '%-14s %12s %12s %8s%% %12s %8s%% %12s %12s\n' "$kind" "$insize" "$zsize" \
        "$(python3 -c "print('%.2f' % (100 * $zsize / $insize))")" "$osize" \
        "$(python3 -c "print('%+.2f' % (100 * ($osize / $zsize - 1)))")" "$isize" "$psize"
done

read -r t_crc _ _ _ _ < <(ours checksum_bench BM_Crc32File)
read -r t_tiger _ _ _ _ < <(ours checksum_bench BM_TigerFile)
t_rcrc=$(peer "rhash --crc32 --simple '$random'")
t_rtiger=$(peer "rhash --tiger --simple '$random'")
line "TCrc32, random" "$t_crc"
line "  peer: rhash --crc32" "$t_rcrc" "$(ratio "$t_crc" "$t_rcrc")"
line "Tiger file hash, random" "$t_tiger"
line "  peer: rhash --tiger" "$t_rtiger" "$(ratio "$t_tiger" "$t_rtiger")"

read -r t_dec _ _ _ _ < <(ours file_decipher_bench BM_TDecryptFile)
read -r t_xor _ _ _ _ < <(ours file_decipher_bench BM_PlainXorLoop)
line "TDecryptFile, random" "$t_dec"
line "  64 KiB read/XOR/write loop" "$t_xor" "$(ratio "$t_dec" "$t_xor")"

rm -f "$out" "$VEK_BENCH_DIR/temp/time.txt"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
