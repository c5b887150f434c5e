#!/usr/bin/env bash
# Installs what is missing, builds, and opens the program under Wine with
# LAME's lame_enc.dll beside it, on the X display of the session.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

if [ -z "${DISPLAY:-}" ]; then
  echo "No X display (DISPLAY is not set): there is nothing to show the wizard on." >&2
  echo "To watch it go through its pages and get screenshots, run: bash scripts/demo.sh" >&2
  exit 1
fi

bash scripts/install-deps.sh
CALBRUNE_SKIP_WIN32=1 bash scripts/build.sh

source scripts/wine-env.sh
ensure_wine_prefix
wine build/win64/calbrune.exe
