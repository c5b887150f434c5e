#!/usr/bin/env bash
# Installs what is missing, builds both Windows programs and the native
# pieces, and runs every test: the Windows ones under Wine with Xvfb.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

bash scripts/install-deps.sh
bash scripts/build.sh

source scripts/wine-env.sh
ensure_wine_prefix
start_xvfb
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
# A persistent wineserver makes every test program start in a fraction of a second.
wineserver -p
# Wine's desktop and services start with the first program; start them here,
# away from CTest's output pipes, which they would otherwise hold open.
wine cmd /c exit </dev/null >/dev/null 2>&1

status=0
ctest --test-dir build/native --output-on-failure -j 2 || status=1
ctest --test-dir build/win64 --output-on-failure -j 2 || status=1
exit $status
