#!/usr/bin/env bash
# Times the Linux lame_enc.dll, driven chunk by chunk under Wine, against the
# lame command-line encoder on a 5-minute 44.1 kHz stereo WAV at default
# settings (128 kbps joint stereo). Usage: bench-lamedll.sh [repetitions]
# [win64 build folder]. Prints each median and their ratio.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-5}
win64=$(cd "${2:-$repo_root/build/win64}" && pwd)
for f in lame_enc.dll lame_enc_helper lamedll_encode.exe; do
  [ -e "$win64/$f" ] || { echo "missing $win64/$f: run scripts/build.sh first" >&2; exit 1; }
done

source "$repo_root/scripts/wine-env.sh"
ensure_wine_prefix
# Stays up between the runs and leaves by itself a few seconds after the last.
wineserver -p5 2>/dev/null || true

work=$(mktemp -d /tmp/bench-lamedll-XXXXXX)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 300 pinknoise synth 300 sine mix 220-880 \
  tremolo 3 40 vol 0.5
wav_windows="Z:${work//\//\\}\\in.wav"
mp3_windows="Z:${work//\//\\}\\dll.mp3"

now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

wine "$win64/lamedll_encode.exe" "$wav_windows" "$mp3_windows" >/dev/null
: >"$work/cli.times"
: >"$work/dll.times"
for i in $(seq "$runs"); do
  start=$(now)
  lame --quiet "$work/in.wav" "$work/cli.mp3"
  echo $(( ($(now) - start) / 1000000 )) >>"$work/cli.times"
  start=$(now)
  wine "$win64/lamedll_encode.exe" "$wav_windows" "$mp3_windows" >/dev/null
  echo $(( ($(now) - start) / 1000000 )) >>"$work/dll.times"
done

cli=$(median <"$work/cli.times")
dll=$(median <"$work/dll.times")
echo "lame command line:          median ${cli} ms of $(tr '\n' ' ' <"$work/cli.times")"
echo "lame_enc.dll under Wine:    median ${dll} ms of $(tr '\n' ' ' <"$work/dll.times")"
awk -v d="$dll" -v c="$cli" 'BEGIN {printf "ratio dll / command line: %.2f\n", d / c}'
