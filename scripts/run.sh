#!/usr/bin/env bash
# Installs what is missing, builds, and opens the program under Wine with the
# Linux lame_enc.dll beside it.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

bash scripts/install-deps.sh
CALBRUNE_SKIP_WIN32=1 bash scripts/build.sh

source scripts/wine-env.sh
ensure_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: starting the program on a private Xvfb display." >&2
  start_xvfb
  trap '[ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null' EXIT
fi
wine build/win64/calbrune.exe
