#!/usr/bin/env bash
# Installs what the project needs on Debian 12 (only what is missing), then
# configures and builds into build/ (and, with --sanitize, build-asan/). With
# --check-format it first checks the sources' formatting (cheap, before any build).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    build-essential g++ cmake ninja-build pkg-config
    qt6-base-dev libqt6printsupport6 libgl-dev qt6-translations-l10n
    libgcrypt20-dev zlib1g-dev libisal-dev libpugixml-dev libexpat1-dev libxlsxwriter-dev libsqlite3-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    python3 python3-pyftpdlib python3-openpyxl openssl curl poppler-utils rhash gzip
    fonts-liberation fonts-dejavu-core ccache clang-format-14
    clang-14 libclang-rt-14-dev
    dpkg-dev lintian desktop-file-utils appstream shared-mime-info man-db systemd devscripts strace
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    [[ $(id -u) -ne 0 ]] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

SANITIZE=0
for arg in "$@"; do
    case "$arg" in
        --sanitize) SANITIZE=1 ;;
        --check-format) bash scripts/check-format.sh ;;
        *) echo "setup: unknown option $arg" >&2; exit 2 ;;
    esac
done

JOBS=$(nproc)
# Compiler cache shared by every build directory of every checkout: paths under
# the checkout are hashed relative to it, so a fresh clone reuses earlier work.
export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=1
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" >/dev/null
cmake --build build -j "$JOBS"

if ((SANITIZE)); then
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=ON -DVEK_BUILD_UI=OFF "${LAUNCHER[@]}" \
        -DVEK_BUILD_BENCH=OFF >/dev/null
    cmake --build build-asan -j "$JOBS"
fi
