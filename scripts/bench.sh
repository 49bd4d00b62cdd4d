#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its goals as "BENCH <case> <value> <= <goal>".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake --preset default
cmake --build --preset default
status=0
for bench in build/default/benchmarks/*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" || status=1
done
exit $status
