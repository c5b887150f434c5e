#!/usr/bin/env bash
# The program of a Windows build with LAME's lame_enc.dll, driven by calbrune_drive: its VBR and
# ABR files decode (mpg123) to exactly the input's length and loudness.
#   tests/e2e.sh BUILD_FOLDER (build/win64 or build/win32)
set -uo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/../scripts/wine-env.sh"
# Not under /tmp: a busy /tmp, which the folder browser lists, keeps the program from answering.
work=$(mktemp -d "$build/e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
win() { local p=$1; echo "Z:${p//\//\\}"; }
failed=0
problem() { echo "FAILED ($(basename "$build")): $*"; failed=1; }

frames() { echo $(( $(sox "$1" -t raw - 2>/dev/null | wc -c) / $(soxi -c "$1") / 2 )); }
rms() { sox "$1" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }
# mp3 wav: decoded to exactly the WAV file's frames, and as loud within 10 %.
check() {
  local decoded=$work/decoded.wav
  mpg123 -q -w "$decoded" "$1" 2>/dev/null || { problem "$1 does not decode"; return; }
  [ "$(frames "$decoded")" = "$(frames "$2")" ] || problem "$(basename "$1"): $(frames "$decoded") frames for $(frames "$2")"
  awk -v a="$(rms "$2")" -v b="$(rms "$decoded")" 'BEGIN {exit !(b > a * 0.9 && b < a * 1.1)}' ||
    problem "$(basename "$1"): loudness $(rms "$decoded") for $(rms "$2")"
}

sox -n -r 44100 -c 2 -b 16 "$work/a.wav" synth 1.5 sine 200-2000 sine 3000-300 vol 0.5
sox -n -r 22050 -c 1 -b 16 "$work/b.wav" synth 1 pinknoise vol 0.4
# The driver bounds its waits and says why it failed; the limit only guards against it hanging.
for method in 0 4; do
  mkdir "$work/vbr$method"
  timeout 900 wine "$build/calbrune_drive.exe" "$(win "$build/calbrune.exe")" "$(win "$work/vbr$method")" --return \
    --vbr $method "$(win "$work/a.wav")" "$(win "$work/b.wav")" >"$work/drive.log" 2>&1 </dev/null ||
    problem "calbrune_drive with VBR method $method (status $?): $(tail -n 3 "$work/drive.log")"
  for name in a b; do check "$work/vbr$method/$name.mp3" "$work/$name.wav"; done
done
[ $failed = 0 ] && echo "end to end ($(basename "$build")): passed"
exit $failed
