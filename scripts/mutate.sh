#!/usr/bin/env bash
# Mutation testing: builds, sets up Wine and Xvfb as the test command does,
# then applies the mutants of scripts/mutants.txt one at a time and runs the
# suite for each. Arguments go to scripts/mutate.py (--only, --tests,
# --results, --list).
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

if [ "${1:-}" = --list ]; then
  exec python3 scripts/mutate.py "$@"
fi
bash scripts/install-deps.sh
CALBRUNE_SKIP_WIN32=1 bash scripts/build.sh
source scripts/wine-env.sh
start_wine_session
python3 scripts/mutate.py "$@"
