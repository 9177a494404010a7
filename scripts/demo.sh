#!/usr/bin/env bash
# Builds everything, starts zebd --demo on loopback and points a fresh base
# directory at it, then opens the window (or, without a display, walks through
# the command line and ends with 0 only when every step worked).
#
# Optional environment:
#   VEK_DEMO_DIR          work folder (default build/demo)
#   VEK_DEMO_BIN          folder that already holds zebd and vek-cli (and vek):
#                         no set-up and no build
#   VEK_DEMO_PORT         zebd's message port (default 8080; 0: a free one)
#   VEK_DEMO_PORTA_FTP    zebd's FTP port (default 2121; 0: a free one)
#   VEK_DEMO_PORTA_DADOS  the client's port for the FTP data connection (default 20001)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
if [[ -n "${VEK_DEMO_BIN:-}" ]]; then
    BIN=$VEK_DEMO_BIN
else
    bash scripts/setup.sh
    BIN="$ROOT/build/bin"
fi
WORK="${VEK_DEMO_DIR:-$ROOT/build/demo}"
PORT=${VEK_DEMO_PORT:-8080}
PORTA_FTP=${VEK_DEMO_PORTA_FTP:-2121}
PORTA_DADOS=${VEK_DEMO_PORTA_DADOS:-20001}
mkdir -p "$WORK/cliente"

# zebd prints, once it listens, the vek.INI lines a client needs, with the
# ports it listens on; the client's configuration is made of them.
"$BIN/zebd" --dados "$WORK/zeb-dados" --porta "$PORT" --porta-ftp "$PORTA_FTP" --demo >"$WORK/zebd.saida" &
ZEBD=$!
trap 'kill $ZEBD 2>/dev/null; wait $ZEBD 2>/dev/null || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for _ in $(seq 600); do
    grep -q '^PortaFTP=' "$WORK/zebd.saida" && break
    if ! kill -0 "$ZEBD" 2>/dev/null; then
        echo "O zebd não iniciou." >&2
        exit 1
    fi
    sleep 0.1
done
if ! grep -q '^PortaFTP=' "$WORK/zebd.saida"; then
    echo "O zebd não informou suas portas." >&2
    exit 1
fi
cat "$WORK/zebd.saida"

{
    sed -n '/^\[Defaults\]$/,$p' "$WORK/zebd.saida"
    echo "PortaDados=$PORTA_DADOS"
} >"$WORK/cliente/vek.INI"
export VEK_DIR="$WORK/cliente"

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && -x "$BIN/vek" ]]; then
    "$BIN/vek"
    exit 0
fi

echo "Sem tela disponível: demonstração pelo vek-cli (diretório base $VEK_DIR; operadora 123456, senha demo)."
export VEK_SENHA=demo
CLI="$BIN/vek-cli"
FALHAS=()
# One step: the command line, what it prints and, when it fails, its exit code.
run() {
    echo
    echo "\$ vek-cli $*"
    local code=0
    "$CLI" "$@" || code=$?
    if ((code != 0)); then
        echo "(saída $code)"
        FALHAS+=("$1")
    fi
}

run tipos-envio
run tipos-download
AMOSTRA="$WORK/amostra.xml"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<declaracao operadora="123456"><item>Demonstração</item></declaracao>\n' \
    >"$AMOSTRA"
run enviar --registro 123456 "$AMOSTRA"

# A file the agency makes available: zebd publishes it, the client lists and
# downloads it, and the download must equal what was published.
RETORNO="$WORK/retorno-demonstracao.xml"
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<retorno operadora="123456">'
    for i in $(seq 500); do echo "  <registro numero=\"$i\" situacao=\"aceito\"/>"; done
    echo '</retorno>'
} >"$RETORNO"
echo
echo "\$ zebd disponibilizar --registro 123456 --tipo RET --arquivo $RETORNO"
ID=$("$BIN/zebd" disponibilizar --dados "$WORK/zeb-dados" --registro 123456 --tipo RET --arquivo "$RETORNO" \
    --descricao "Retorno publicado na demonstração") || ID=""
if [[ -n "$ID" ]]; then
    echo "$ID"
else
    echo "(a publicação falhou)"
    FALHAS+=(disponibilizar)
fi

echo
echo "\$ vek-cli listar --registro 123456 --tipo RET"
code=0
LISTA=$("$CLI" listar --registro 123456 --tipo RET) || code=$?
printf '%s\n' "$LISTA"
if ((code != 0)); then
    echo "(saída $code)"
    FALHAS+=(listar)
fi
# The row of the published file: its name is the first column, its identifier the seventh.
NOME=$(printf '%s\n' "$LISTA" | awk -F'\t' -v id="$ID" 'NR > 1 && id != "" && $7 == id { print $1; exit }')
if [[ -z "$NOME" ]]; then
    echo "(o arquivo publicado não está na lista)"
    FALHAS+=(listar)
else
    BAIXADOS="$WORK/baixados"
    mkdir -p "$BAIXADOS"
    run baixar --registro 123456 --tipo RET --id "$ID" --destino "$BAIXADOS" --substituir
    if cmp -s "$RETORNO" "$BAIXADOS/$NOME"; then
        echo "O arquivo baixado é igual ao publicado pelo zebd."
    else
        echo "(o arquivo baixado difere do publicado pelo zebd)"
        FALHAS+=(baixar)
    fi
fi

run historico --registro 123456 --inicio "$(date -d '-30 days' +%d/%m/%Y)" --fim "$(date +%d/%m/%Y)"

# The unattended upload another program would start with a parameter file.
run gerar-parametros --formato 1 --registro 123456 --arquivo "$AMOSTRA" --resposta resposta-demo.xml \
    --aplicacao Demonstracao --versao 1.0 --checksum auto -o "$WORK/envio.par"
echo
echo "\$ vek-cli parametros $WORK/envio.par"
code=0
"$CLI" parametros "$WORK/envio.par" || code=$?
echo "(código de saída $code; 9 = enviado)"
((code == 9)) || FALHAS+=(parametros)
echo "Resposta: $(cat "$VEK_DIR/Protocolos/resposta-demo.xml" 2>/dev/null)"

echo
if ((${#FALHAS[@]})); then
    echo "A demonstração terminou com falhas em: ${FALHAS[*]}."
    exit 1
fi
echo "Demonstração concluída: todos os passos funcionaram."
