#!/usr/bin/env bash
# Makes the Debian packages vek-cli_*.deb (the client without a window),
# vek_*.deb (the window) and zebd_*.deb (the server counterpart and its
# service) in build/: set-up and build as
# scripts/setup.sh does, then CPack on that tree, then lintian.
#   bash scripts/package.sh
#   bash scripts/package.sh --tree DIR [--out DIR] [--no-lintian]   # an already built tree, no set-up
set -euo pipefail

tree=""
out=""
setup=1
lint=1
while (($#)); do
    case $1 in
        --tree) tree=$(realpath -m "$2"); setup=0; shift 2 ;;
        --out) out=$(realpath -m "$2"); shift 2 ;;
        --no-lintian) lint=0; shift ;;
        *) echo "uso: bash scripts/package.sh [--tree DIR] [--out DIR] [--no-lintian]" >&2; exit 2 ;;
    esac
done
cd "$(dirname "$0")/.."
tree=${tree:-$PWD/build}
out=${out:-$tree}

if ((setup)); then
    bash scripts/setup.sh
fi
for tool in cpack dpkg-shlibdeps dpkg-deb; do
    command -v "$tool" >/dev/null || { echo "package: $tool is missing (bash scripts/setup.sh installs it)" >&2; exit 1; }
done

mkdir -p "$out"
rm -f "$out"/vek-cli_*.deb "$out"/vek_*.deb "$out"/zebd_*.deb
cpack --config "$tree/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; exit 1; }
rm -rf "$out/_CPack_Packages"

debs=("$out"/vek-cli_*.deb "$out"/vek_*.deb "$out"/zebd_*.deb)
if ((lint)) && command -v lintian >/dev/null; then
    lintian --fail-on error "${debs[@]}"
fi
ls -l "${debs[@]}"
