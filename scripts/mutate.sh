#!/usr/bin/env bash
# Mutation testing: builds, sets up Wine and Xvfb as the test command does,
# then applies the mutants of scripts/mutants.txt one at a time and runs the
# suite for each. Arguments go to scripts/mutate.py (--only, --tests,
# --results, --list).
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

if [ "${1:-}" != --list ]; then
  bash scripts/install-deps.sh
  CALBRUNE_SKIP_WIN32=1 bash scripts/build.sh
fi
source scripts/wine-env.sh
ensure_wine_prefix
start_xvfb
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
python3 scripts/mutate.py "$@"
