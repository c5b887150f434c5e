#!/usr/bin/env bash
# Installs what is missing, builds both Windows programs with LAME's DLL and
# the native pieces, and runs every test: the Windows ones under Wine with
# Xvfb, for the 32-bit build too where the machine has the 32-bit Wine. Then
# makes the release and checks it by installing it.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

bash scripts/install-deps.sh
bash scripts/build.sh

source scripts/wine-env.sh
start_wine_session

status=0
ctest --test-dir build/native --output-on-failure -j 2 || status=1
ctest --test-dir build/win64 --output-on-failure -j 2 || status=1
if wine32_present; then
  ctest --test-dir build/win32 --output-on-failure -j 2 || status=1
  bash tests/e2e.sh build/win32 || status=1
else
  echo "The 32-bit build was built but not run: this machine has no 32-bit Wine."
fi
stop_wine_session
bash scripts/release.sh >build/release.log 2>&1 || { status=1; tail -n 20 build/release.log; }
bash scripts/check-release.sh || status=1
exit $status
