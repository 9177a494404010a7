#!/usr/bin/env bash
# Soak run: one zebd and four vek-cli clients, each looping upload, list,
# download and history against it for MINUTES minutes (default 30), while
# zebd's resident memory and open descriptors are sampled to a CSV. Ends with
# a verdict on growth (the last quarter of the samples against the first) and
# exits 0 only when neither grew and every loop step worked.
#
#   bash scripts/soak.sh [MINUTES]
#
# Optional environment:
#   VEK_SOAK_BIN       folder that holds zebd and vek-cli (default build/bin)
#   VEK_SOAK_DIR       work folder (default: a new one under /tmp); the CSV is
#                      its amostras.csv, the summary its resumo.txt
#   VEK_SOAK_INTERVAL  seconds between two samples (default 5)
#   VEK_SOAK_ATE_ONTEM 1: the history query ends yesterday, so it never holds
#                      the uploads of the run (its answer keeps one size);
#                      by default it ends today and grows with every loop
set -euo pipefail
cd "$(dirname "$0")/.."
MINUTES=${1:-30}
BIN=${VEK_SOAK_BIN:-$(pwd)/build/bin}
WORK=${VEK_SOAK_DIR:-$(mktemp -d /tmp/vek-soak.XXXXXX)}
INTERVAL=${VEK_SOAK_INTERVAL:-5}
CLIENTS=4
mkdir -p "$WORK"
for p in zebd vek-cli; do
    [[ -x "$BIN/$p" ]] || { echo "soak: $BIN/$p não existe (compile antes ou defina VEK_SOAK_BIN)" >&2; exit 2; }
done

"$BIN/zebd" --dados "$WORK/dados" --porta 0 --porta-ftp 0 --demo >"$WORK/zebd.saida" 2>"$WORK/zebd.erros" &
ZEBD=$!
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
    kill "$ZEBD" 2>/dev/null || true
    wait "$ZEBD" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for _ in $(seq 600); do
    grep -q '^PortaFTP=' "$WORK/zebd.saida" && break
    kill -0 "$ZEBD" 2>/dev/null || { echo "soak: o zebd não iniciou" >&2; cat "$WORK/zebd.erros" >&2; exit 1; }
    sleep 0.1
done
grep -q '^PortaFTP=' "$WORK/zebd.saida" || { echo "soak: o zebd não informou suas portas" >&2; exit 1; }

# One file published for every client to download in each loop.
PUBLICADO="$WORK/publicado.xml"
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<retorno>'
    for i in $(seq 300); do echo "  <registro numero=\"$i\"/>"; done
    echo '</retorno>'
} >"$PUBLICADO"
ID=$("$BIN/zebd" disponibilizar --dados "$WORK/dados" --registro 123456 --tipo RET --arquivo "$PUBLICADO" \
    --descricao "Arquivo do teste de resistência")

# A free local port for each client's FTP data connection, below the range
# the system hands out to outgoing connections (as the default 20001 is): a
# port from that range may be taken by one of the clients' own connections
# when the next download wants to listen on it.
free_port() {
    python3 - <<'PY'
import random, socket
while True:
    port = random.randint(20001, 32000)
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        s.close()
    print(port)
    break
PY
}

END=$(($(date +%s) + MINUTES * 60))
INICIO=$(date -d '-30 days' +%d/%m/%Y)
if [[ "${VEK_SOAK_ATE_ONTEM:-0}" == 1 ]]; then
    FIM=$(date -d '-1 day' +%d/%m/%Y)
else
    FIM=$(date +%d/%m/%Y)
fi

client() {
    local n=$1 dir="$WORK/cliente$n"
    mkdir -p "$dir/baixados"
    {
        sed -n '/^\[Defaults\]$/,$p' "$WORK/zebd.saida"
        echo "PortaDados=$(free_port)"
    } >"$dir/vek.INI"
    export VEK_DIR="$dir" VEK_SENHA=demo
    local loop=0
    while (($(date +%s) < END)); do
        loop=$((loop + 1))
        local falhas=""
        printf '<?xml version="1.0"?>\n<envio cliente="%s" volta="%s">%s</envio>\n' "$n" "$loop" "$RANDOM$RANDOM" \
            >"$dir/envio.xml"
        "$BIN/vek-cli" enviar --registro 123456 "$dir/envio.xml" >/dev/null 2>>"$dir/erros" || falhas+=" enviar"
        "$BIN/vek-cli" listar --registro 123456 --tipo RET >/dev/null 2>>"$dir/erros" || falhas+=" listar"
        if "$BIN/vek-cli" baixar --registro 123456 --tipo RET --id "$ID" --destino "$dir/baixados" --substituir \
            >/dev/null 2>>"$dir/erros"; then
            cmp -s "$PUBLICADO" "$dir/baixados/publicado.xml" || falhas+=" baixar(conteúdo)"
        else
            falhas+=" baixar"
        fi
        "$BIN/vek-cli" historico --registro 123456 --inicio "$INICIO" --fim "$FIM" >/dev/null \
            2>>"$dir/erros" || falhas+=" historico"
        rm -f "$dir"/Protocolos/*.xml
        echo "$loop${falhas:+ falhou:$falhas}" >>"$dir/voltas"
    done
}

for n in $(seq "$CLIENTS"); do
    client "$n" &
    PIDS+=($!)
done

CSV="$WORK/amostras.csv"
echo "segundos,rss_kb,fds,carga_1min" >"$CSV"
START=$(date +%s)
while (($(date +%s) < END)); do
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$ZEBD/status" 2>/dev/null || echo "")
    [[ -n "$rss" ]] || { echo "soak: o zebd terminou durante o teste" >&2; exit 1; }
    fds=$(find "/proc/$ZEBD/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
    load=$(cut -d' ' -f1 /proc/loadavg)
    echo "$(($(date +%s) - START)),$rss,$fds,$load" >>"$CSV"
    sleep "$INTERVAL"
done
for p in "${PIDS[@]}"; do wait "$p" || true; done
PIDS=()

VOLTAS=$(cat "$WORK"/cliente*/voltas 2>/dev/null | wc -l)
FALHAS=$(grep -h 'falhou' "$WORK"/cliente*/voltas 2>/dev/null | wc -l || true)
# The first and the last quarter of the samples: medians of memory and
# descriptors (a sample may catch connections in flight), the maximum of each.
status=0
python3 - "$CSV" "$VOLTAS" "$FALHAS" "$MINUTES" >"$WORK/resumo.txt" <<'EOF' || status=$?
import csv, statistics, sys
path, voltas, falhas, minutes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
rows = list(csv.DictReader(open(path)))
rss = [int(r["rss_kb"]) for r in rows]
fds = [int(r["fds"]) for r in rows]
load = [float(r["carga_1min"]) for r in rows]
q = max(1, len(rows) // 4)
rss_a, rss_b = statistics.median(rss[:q]), statistics.median(rss[-q:])
fds_a, fds_b = statistics.median(fds[:q]), statistics.median(fds[-q:])
# Memory grows when the last quarter's median is 20 % and 4 MiB above the
# first's; descriptors when it is more than 4 above.
rss_grew = rss_b > rss_a * 1.2 and rss_b - rss_a > 4096
fds_grew = fds_b - fds_a > 4
print(f"duração: {minutes} min, {len(rows)} amostras")
print(f"voltas completas: {voltas} (com falha: {falhas})")
print(f"RSS kB: primeira {rss[0]}, última {rss[-1]}, máxima {max(rss)}; mediana 1º quarto {rss_a:.0f}, último quarto {rss_b:.0f}")
print(f"fds: primeira {fds[0]}, última {fds[-1]}, máxima {max(fds)}; mediana 1º quarto {fds_a:.0f}, último quarto {fds_b:.0f}")
print(f"carga (1 min): média {statistics.mean(load):.2f}, máxima {max(load):.2f}")
ok = not rss_grew and not fds_grew and falhas == 0 and voltas > 0
print("veredito: " + ("sem crescimento" if not rss_grew and not fds_grew else
                      "CRESCIMENTO de " + " e ".join(w for w, g in (("memória", rss_grew), ("descritores", fds_grew)) if g))
      + ("" if falhas == 0 else f"; {falhas} voltas com falha"))
sys.exit(0 if ok else 1)
EOF
cat "$WORK/resumo.txt"
echo "amostras: $CSV"
exit $status
