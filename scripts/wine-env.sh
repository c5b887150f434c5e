# Sourced by the scripts: the project's own Wine prefix, quiet and without
# installer prompts.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${CALBRUNE_WINEPREFIX:-$repo_root/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Whether 32-bit Windows programs can run: scripts/install-deps.sh installs
# the 32-bit Wine only where the kernel runs them.
wine32_present() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'
}

# Creates the prefix once, with a virtual desktop so that windows under a
# bare X server do not stall when dialogs close.
ensure_wine_prefix() {
  if [ -f "$WINEPREFIX/.calbrune-ready" ]; then
    return 0
  fi
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.calbrune-ready"
}

# Starts Xvfb on a free display unless one is given; sets DISPLAY and xvfb_pid.
start_xvfb() {
  xvfb_pid=
  local n
  for n in $(seq 90 130); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      export DISPLAY=":$n"
      return 0
    fi
  done
  echo "no free X display" >&2
  return 1
}

# The prefix, Xvfb and a persistent wineserver, all stopped on exit: every
# test program then starts in a fraction of a second. Wine's desktop and
# services start with the first program; they are started here, away from
# CTest's output pipes, which they would otherwise hold open.
start_wine_session() {
  ensure_wine_prefix
  start_xvfb
  trap stop_wine_session EXIT
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

stop_wine_session() {
  wineserver -k 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
