#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Let ccache reuse objects across checkouts in other folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake --preset default
cmake --build --preset default
runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen
ctest --preset default
