#!/usr/bin/env bash
# Measures the WAV job with the Linux lame_enc.dll, in one run:
# - its time on a 10-minute 44.1 kHz stereo WAV against the lame command-line
#   encoder at the same settings (128 kbps joint stereo), medians and ratio;
# - the share of that time spent in progress messages, as sent, and as it
#   would be with one pair of messages per chunk;
# - its peak memory for a 20 MB and a 1 GB WAV file.
# Usage: bench-wavejob.sh [repetitions] [win64 build folder]
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-3}
win64=$(cd "${2:-$repo_root/build/win64}" && pwd)
for f in lame_enc.dll lame_enc_helper calbrune_wavejob.exe; do
  [ -e "$win64/$f" ] || { echo "missing $win64/$f: run scripts/build.sh first" >&2; exit 1; }
done

source "$repo_root/scripts/wine-env.sh"
ensure_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb
fi
wineserver -p5 2>/dev/null || true
wine cmd /c exit </dev/null >/dev/null 2>&1

work=$(mktemp -d /tmp/bench-wavejob-XXXXXX)
trap 'rm -rf "$work"; [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true' EXIT
windows() { echo "Z:${1//\//\\}"; }
mkdir "$work/out"

sox -n -r 44100 -c 2 -b 16 "$work/ten.wav" synth 600 pinknoise synth 600 sine mix 220-880 \
  tremolo 3 40 vol 0.5

now() { date +%s%N; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
field() { tr -d "\r" <"$2" | awk -v k="$1" '$1 == k {print $2}'; }

: >"$work/cli.times"
: >"$work/job.times"
: >"$work/share.sent"
: >"$work/share.chunk"
data_bytes=$(( $(stat -c %s "$work/ten.wav") - 44 ))
chunks=$(( (data_bytes + 4607) / 4608 ))
for i in $(seq "$runs"); do
  start=$(now)
  lame --quiet -b 128 -m j "$work/ten.wav" "$work/cli.mp3"
  awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.3f\n", (b - a) / 1e9}' >>"$work/cli.times"
  wine "$win64/calbrune_wavejob.exe" --visible "$(windows "$work/out")" \
    "$(windows "$work/ten.wav")" >"$work/job.out"
  seconds=$(field seconds "$work/job.out")
  pairs=$(field progress_pairs "$work/job.out")
  pair=$(field pair_seconds "$work/job.out")
  echo "$seconds" >>"$work/job.times"
  awk -v n="$pairs" -v p="$pair" -v s="$seconds" 'BEGIN {printf "%.2f\n", 100 * n * p / s}' \
    >>"$work/share.sent"
  awk -v n="$chunks" -v p="$pair" -v s="$seconds" 'BEGIN {printf "%.2f\n", 100 * n * p / s}' \
    >>"$work/share.chunk"
done

cli=$(median <"$work/cli.times")
job=$(median <"$work/job.times")
echo "10-minute WAV, 128 kbps joint stereo, $runs runs each"
echo "  lame command line:   median ${cli} s of $(tr '\n' ' ' <"$work/cli.times")"
echo "  WAV job under Wine:  median ${job} s of $(tr '\n' ' ' <"$work/job.times")"
awk -v j="$job" -v c="$cli" 'BEGIN {printf "  ratio job / command line: %.2f\n", j / c}'
echo "  progress messages, as sent:         $(median <"$work/share.sent") % of the job's time"
echo "  progress messages, a pair per chunk: $(median <"$work/share.chunk") % ($chunks chunks)"

# Memory must not grow with the file: a 20 MB file against a 1 GB one.
sox -n -r 44100 -c 2 -b 16 "$work/small.wav" synth 119 pinknoise vol 0.3
sox -n -r 44100 -c 2 -b 16 "$work/large.wav" synth 6087 pinknoise vol 0.3
for name in small large; do
  wine "$win64/calbrune_wavejob.exe" "$(windows "$work/out")" "$(windows "$work/$name.wav")" \
    >"$work/$name.out"
  echo "  peak memory, $(( $(stat -c %s "$work/$name.wav") / 1000000 )) MB WAV:" \
    "working set $(( $(field peak_working_set "$work/$name.out") / 1024 )) KiB," \
    "private $(( $(field peak_pagefile "$work/$name.out") / 1024 )) KiB"
done
