#!/usr/bin/env bash
# Builds everything, starts zebd --demo on loopback and points a fresh base
# directory at it, then opens the window (or, without a display, walks through
# the command line).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
ROOT=$(pwd)
BIN="$ROOT/build/bin"
WORK="${VEK_DEMO_DIR:-$ROOT/build/demo}"
mkdir -p "$WORK/cliente"
PORT=${VEK_DEMO_PORT:-8080}

"$BIN/zebd" --dados "$WORK/zeb-dados" --porta "$PORT" --demo &
ZEBD=$!
trap 'kill $ZEBD 2>/dev/null; wait $ZEBD 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$PORT") 2>/dev/null && break
    sleep 0.1
done

cat > "$WORK/cliente/vek.INI" <<INI
[Defaults]
ServidorInternet=127.0.0.1
PortaServico=$PORT
INI
export VEK_DIR="$WORK/cliente"

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -x "$BIN/vek" ]]; then
    "$BIN/vek"
else
    echo "Sem tela disponível: demonstração pelo vek-cli (diretório base $VEK_DIR; operadora 123456, senha demo)."
    export VEK_SENHA=demo
    CLI="$BIN/vek-cli"
    run() { echo; echo "\$ vek-cli $*"; "$CLI" "$@" || echo "(saída $?)"; }
    run tipos-envio
    run tipos-download
    AMOSTRA="$WORK/amostra.xml"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<declaracao operadora="123456"><item>Demonstração</item></declaracao>\n' > "$AMOSTRA"
    run enviar --registro 123456 "$AMOSTRA"
    run listar --registro 123456 --tipo RET
    run historico --registro 123456 --inicio "$(date -d '-30 days' +%d/%m/%Y)" --fim "$(date +%d/%m/%Y)"
    # The unattended upload another program would start with a parameter file.
    run gerar-parametros --formato 1 --registro 123456 --arquivo "$AMOSTRA" --resposta resposta-demo.xml \
        --aplicacao Demonstracao --versao 1.0 --checksum auto -o "$WORK/envio.par"
    echo; echo "\$ vek-cli parametros $WORK/envio.par"
    "$CLI" parametros "$WORK/envio.par"
    echo "(código de saída $?; 9 = enviado)"
    echo "Resposta: $(cat "$VEK_DIR/Protocolos/resposta-demo.xml" 2>/dev/null)"
fi
