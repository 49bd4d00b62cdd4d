#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test with CTest; the media
# layer's tests run a second time under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Let ccache reuse objects across checkouts in other folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen

cmake --preset default
cmake --build --preset default

mapfile -t media_tests < <(ctest --preset default -L media -N | awk '/Test +#/ {print $3}')
cmake --preset asan
cmake --build --preset asan --target "${media_tests[@]}"
ctest --preset asan -L media

ctest --preset default
