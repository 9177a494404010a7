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
    echo "Sem tela disponível: demonstração pelo vek-cli (base em $VEK_DIR)."
    echo "\$ vek-cli tipos-envio"
    "$BIN/vek-cli" tipos-envio
    echo "\$ vek-cli tipos-download"
    "$BIN/vek-cli" tipos-download
fi
