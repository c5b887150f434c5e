#!/usr/bin/env bash
# Measures the conversion on this machine, in one run, and prints one Markdown
# table to paste into the README:
# - the lame command line, the Linux lame_enc.dll driven directly under Wine,
#   the WAV job and the whole wizard (calbrune_drive on calbrune.exe) on a
#   10-minute 44.1 kHz stereo WAV at the program's default settings (128 kbps
#   joint stereo): median time of each and its ratio to the command line;
# - the wizard's start-up and its conversion alone, measured by the drive;
# - the WAV job's peak memory for a 20 MB and a 2 GiB WAV file;
# then the share of the job's time spent in progress messages, and a line
# naming the machine and the date.
#
# Usage: bench.sh [runs, default 3] [win64 build folder, default build/win64]
# BENCH_MINUTES (default 10) sets the length of the timed WAV, BENCH_LARGE_MB
# (default 2048, in MiB) the size of the large one; short values check that
# the script works. Files go to a folder under TMPDIR (default /tmp), removed
# at the end.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-3}
win64=$(cd "${2:-$repo_root/build/win64}" && pwd)
minutes=${BENCH_MINUTES:-10}
large_mb=${BENCH_LARGE_MB:-2048}
if [ "$large_mb" -ge 4000 ]; then
  echo "BENCH_LARGE_MB must stay under 4000: a WAV file cannot hold 4 GiB" >&2
  exit 1
fi
for f in lame_enc.dll lame_enc_helper lamedll_encode.exe calbrune_wavejob.exe calbrune.exe calbrune_drive.exe; do
  [ -e "$win64/$f" ] || { echo "missing $win64/$f: run scripts/build.sh first" >&2; exit 1; }
done
for tool in lame sox wine wineserver; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/calbrune-bench-XXXXXX")
xvfb_pid=
# The server's desktop lives on our display: both go at the end.
finish() {
  rm -rf "$work"
  if [ -n "$xvfb_pid" ]; then
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
  fi
}
trap finish EXIT
windows() { echo "Z:${1//\//\\}"; }
now() { date +%s%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN {printf "%.3f\n", (b - a) / 1e9}'; }
median() { sort -g "$1" | awk '{a[NR]=$1} END {printf "%.2f", (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
list() { awk '{printf "%s%.2f", (NR > 1 ? " " : ""), $1}' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
field() { tr -d '\r' <"$2" | awk -v k="$1" '$1 == k {print $2}'; }
mib() { awk -v b="$1" 'BEGIN {printf "%.1f MiB", b / 1048576}'; }
free_mb() { df -Pm "$work" | awk 'NR == 2 {print $4}'; }

# 176400 bytes a second at 44.1 kHz, 16 bits, stereo.
timed_seconds=$(( minutes * 60 ))
large_seconds=$(( (large_mb * 1048576 + 176399) / 176400 ))
timed_mb=$(( timed_seconds * 176400 / 1048576 + 1 ))
# Room for the timed WAV and its MP3 files, then for the large WAV and its
# MP3, which come one after the other.
need_timed=$(( timed_mb * 2 + 200 ))
need_large=$(( large_mb * 112 / 100 + 50 ))
if [ "$(free_mb)" -lt "$need_timed" ]; then
  echo "not enough disk space in $work: $(free_mb) MiB free, $need_timed MiB needed" >&2
  exit 1
fi
if [ "$(free_mb)" -lt "$need_large" ]; then
  echo "not enough disk space in $work for the $large_mb MiB WAV ($(free_mb) MiB free," \
    "$need_large MiB needed): its row will say so" >&2
fi

source "$repo_root/scripts/wine-env.sh"
ensure_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb
fi
# Keeps the server up across the native runs; it leaves by itself a minute
# after the last program. A start before each timed program keeps it warm.
wineserver -p60 2>/dev/null || true
warm() { wine cmd /c exit </dev/null >/dev/null 2>&1; }
warm

sox -n -r 44100 -c 2 -b 16 "$work/timed.wav" synth "$timed_seconds" pinknoise synth "$timed_seconds" \
  sine mix 220-880 tremolo 3 40 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$work/warm.wav" synth 3 pinknoise vol 0.3
mkdir "$work/out"
timed_w=$(windows "$work/timed.wav")

run_dll() {
  wine "$win64/lamedll_encode.exe" "$(windows "$1")" "$(windows "$work/dll.mp3")" >"$work/dll.out" 2>&1
}
run_job() { wine "$win64/calbrune_wavejob.exe" "$@" >"$work/job.out" 2>"$work/job.err"; }
# The MP3 goes beside the WAV and the program closes by itself when it is
# done. The drive cannot choose files in the folder the open-file dialog
# already shows, so each run has a folder of its own, with a link to the WAV.
wizard_runs=0
run_wizard() {
  local folder="$work/run$(( ++wizard_runs ))"
  mkdir "$folder"
  ln "$1" "$folder/in.wav"
  wine "$win64/calbrune_drive.exe" "$(windows "$win64/calbrune.exe")" wav - - --timed \
    "$(windows "$folder/in.wav")" >"$work/drive.out" 2>&1 && [ -s "$folder/in.mp3" ]
}
# What the drive printed with --timed: seconds from its start to the moment named.
elapsed() { tr -d '\r' <"$work/drive.out" | awk -v k="$1" '$1 == "elapsed" && $2 == k {print $3}'; }
# Runs a program of the build with the server warm, once more if it fails
# (on a busy machine a Wine run is now and then lost), and leaves the
# seconds of the run that worked in $work/last.
timed_run() {
  local try start code
  for try in 1 2; do
    warm
    start=$(now)
    "$@" && { seconds_since "$start" >"$work/last"; return 0; }
    code=$?
    echo "$* failed with exit code $code (attempt $try)" >&2
  done
  return 1
}
fail_with() { echo "$1 failed:" >&2; cat "${@:2}" >&2; exit 1; }
job_failed() { fail_with "the WAV job" "$work/job.out" "$work/job.err"; }

# One of each first, so that no timed run pays for a cold cache.
timed_run run_dll "$work/warm.wav" || fail_with "lamedll_encode" "$work/dll.out"
timed_run run_job "$(windows "$work/out")" "$(windows "$work/warm.wav")" || job_failed
timed_run run_wizard "$work/warm.wav" || fail_with "the wizard" "$work/drive.out"
rm -rf "$work"/run[0-9]*

for name in cli dll job jobws jobpriv share_sent share_chunk wizard startup finish rest; do
  : >"$work/$name.times"
done
data_bytes=$(( $(stat -c %s "$work/timed.wav") - 44 ))
chunks=$(( (data_bytes + 4607) / 4608 ))
for i in $(seq "$runs"); do
  echo "run $i of $runs" >&2
  start=$(now)
  lame --quiet -b 128 -m j "$work/timed.wav" "$work/cli.mp3"
  seconds_since "$start" >>"$work/cli.times"

  timed_run run_dll "$work/timed.wav" || fail_with "lamedll_encode" "$work/dll.out"
  cat "$work/last" >>"$work/dll.times"

  # The job's own time, from its start to its end, with its window shown.
  timed_run run_job --visible "$(windows "$work/out")" "$timed_w" || job_failed
  job=$(field seconds "$work/job.out")
  echo "$job" >>"$work/job.times"
  field peak_working_set "$work/job.out" >>"$work/jobws.times"
  field peak_pagefile "$work/job.out" >>"$work/jobpriv.times"
  pairs=$(field progress_pairs "$work/job.out")
  pair=$(field pair_seconds "$work/job.out")
  share() { awk -v n="$1" -v p="$pair" -v s="$job" 'BEGIN {printf "%.2f\n", 100 * n * p / s}'; }
  share "$pairs" >>"$work/share_sent.times"
  share "$chunks" >>"$work/share_chunk.times"

  timed_run run_wizard "$work/timed.wav" || fail_with "the wizard" "$work/drive.out"
  total=$(cat "$work/last")
  rm -rf "$work"/run[0-9]*
  shown=$(elapsed wizard)
  [ -n "$shown" ] || fail_with "calbrune_drive printed no times: rebuild it (it needs --timed)" "$work/drive.out"
  echo "$total" >>"$work/wizard.times"
  echo "$shown" >>"$work/startup.times"
  awk -v a="$(elapsed ended)" -v b="$(elapsed finish)" 'BEGIN {printf "%.3f\n", a - b}' >>"$work/finish.times"
  awk -v a="$total" -v b="$shown" 'BEGIN {printf "%.3f\n", a - b}' >>"$work/rest.times"
done

# Peak memory must not grow with the file: a 20 MB file against a large one.
# A failure here is reported in the row; the times above stand.
memory_row() {
  local label=$1 wav=$2
  if ! timed_run run_job "$(windows "$work/out")" "$(windows "$wav")"; then
    local why
    why=$(cat "$work/job.err" "$work/job.out" | tr -d '\r' | grep -m1 . || true)
    echo "| $label | failed: ${why:-no message} | | | | |"
    return
  fi
  printf '| %s | — | %.2f | — | %s | %s |\n' "$label" "$(field seconds "$work/job.out")" \
    "$(mib "$(field peak_working_set "$work/job.out")")" "$(mib "$(field peak_pagefile "$work/job.out")")"
}
sox -n -r 44100 -c 2 -b 16 "$work/small.wav" synth 119 pinknoise vol 0.3
small_bytes=$(stat -c %s "$work/small.wav")
small_row=$(memory_row "WAV job, peak memory, $(( small_bytes / 1048576 )) MiB WAV ($small_bytes bytes)" \
  "$work/small.wav")
rm -f "$work/small.wav" "$work/timed.wav" "$work"/*.mp3 "$work"/out/*
if [ "$(free_mb)" -lt "$need_large" ]; then
  large_row="| WAV job, peak memory, $large_mb MiB WAV | not measured: $(free_mb) MiB free in $work,"
  large_row+=" $need_large MiB needed | | | | |"
  echo "not enough disk space for the $large_mb MiB WAV" >&2
else
  # Ten seconds of noise repeated: much quicker than synthesising hours.
  sox -n -r 44100 -c 2 -b 16 "$work/clip.wav" synth 10 pinknoise vol 0.3
  sox "$work/clip.wav" "$work/large.wav" repeat $(( (large_seconds + 9) / 10 - 1 ))
  rm -f "$work/clip.wav"
  large_bytes=$(stat -c %s "$work/large.wav")
  large_row=$(memory_row "WAV job, peak memory, $(( large_bytes / 1048576 )) MiB WAV ($large_bytes bytes)" \
    "$work/large.wav")
  rm -f "$work/large.wav" "$work"/out/*
fi

cli=$(median "$work/cli.times")
row() {  # label, times file, ratio wanted (1/0), memory columns
  local m
  m=$(median "$2")
  printf '| %s | %s | %s | %s | %s |\n' "$1" "$m" "$(list "$2")" \
    "$([ "$3" = 1 ] && ratio "$m" "$cli" || echo —)" "$4"
}
jobws=$(sort -g "$work/jobws.times" | tail -1)
jobpriv=$(sort -g "$work/jobpriv.times" | tail -1)
echo
echo "$minutes-minute 44.1 kHz stereo WAV ($(( data_bytes / 1000000 )) MB), 128 kbps joint stereo;" \
  "median of $runs runs."
echo
echo "| Measure | Median (s) | Runs (s) | Ratio to \`lame\` | Peak working set | Peak private bytes |"
echo "|---|--:|---|--:|--:|--:|"
row "\`lame\` command line, native" "$work/cli.times" 1 " | "
row "\`lame_enc.dll\` under Wine, driven directly (\`lamedll_encode.exe\`, start to exit)" \
  "$work/dll.times" 1 " | "
row "WAV job (\`calbrune_wavejob.exe\`, the job's own time; highest peaks)" "$work/job.times" 1 \
  "$(mib "$jobws") | $(mib "$jobpriv")"
row "Wizard end to end (\`calbrune_drive\` on \`calbrune.exe\`, drive's start to program's exit)" \
  "$work/wizard.times" 1 " | "
row "… of which the wizard's start-up (on the drive's clock: its start to the wizard shown)" \
  "$work/startup.times" 0 " | "
row "Wizard end to end without its start-up" "$work/rest.times" 1 " | "
row "… of which Finish to the program's exit" "$work/finish.times" 1 " | "
echo "$small_row"
echo "$large_row"
echo
echo "Progress messages in the WAV job: $(median "$work/share_sent.times") % of its time as sent," \
  "$(median "$work/share_chunk.times") % if it sent a pair per chunk ($chunks chunks)."
cpu=$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)
echo
echo "Machine: ${cpu:-unknown CPU}, $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end;" \
  "$(wine --version), $(lame --version 2>&1 | sed -n '1s/ (http.*//p'); $(date -u '+%Y-%m-%d %H:%M UTC')."
