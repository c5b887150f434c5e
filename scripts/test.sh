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
# A small disk that the tests can fill, where the machine lets us mount one.
small_disk="$repo_root/build/smalldisk"
mkdir -p "$small_disk"
small_disk_mounted=
if [ "$(id -u)" -eq 0 ] && ! mountpoint -q "$small_disk" &&
  mount -t tmpfs -o size=256k calbrune-small "$small_disk" 2>/dev/null; then
  small_disk_mounted=1
fi
if mountpoint -q "$small_disk"; then
  export CALBRUNE_SMALL_DISK="Z:${small_disk//\//\\}"
fi
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$small_disk_mounted" ] && umount "$small_disk" 2>/dev/null || true
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
