#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. When Setting.ini names no
# platform of its own (BaseUrl absent or the loopback default), a local platform-stub serves
# on 127.0.0.1:8080 for as long as the program runs; sign in as "demo" / "demo".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake --preset default
cmake --build --preset default --target studiocast platform-stub
bin=build/default/bin
default_url="http://127.0.0.1:8080"
base_url=""
if [ -f "$bin/Setting.ini" ]; then
  base_url=$(sed -n 's/^BaseUrl=//p' "$bin/Setting.ini" | tr -d '\r' | head -n 1)
fi
stub_pid=""
if [ -z "$base_url" ] || [ "$base_url" = "$default_url" ]; then
  mkdir -p "$bin/platform-data"
  "$bin/platform-stub" --port 8080 --folder "$bin/platform-data" > "$bin/platform-data/stub.out" &
  stub_pid=$!
  trap 'kill "$stub_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    grep -q listening "$bin/platform-data/stub.out" 2>/dev/null && break
    kill -0 "$stub_pid" 2>/dev/null || { echo "platform-stub could not start (is port 8080 taken?)" >&2; exit 1; }
    sleep 0.1
  done
  echo "Local platform on $default_url: sign in as demo / demo"
fi
"$bin/studiocast"
