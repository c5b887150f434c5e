#!/usr/bin/env bash
# Measures the conversion on this machine, in one run, and prints one Markdown
# table to paste into the README:
# - the lame command line, LAME's own front end built for Windows from the
#   same source and flags as lame_enc.dll (run under Wine), the WAV job in
#   the program and the whole wizard (calbrune_drive on calbrune.exe), on a
#   10-minute 44.1 kHz stereo WAV at the program's default settings
#   (128 kbps joint stereo): median time of each and its ratio to the
#   command line; the wizard's start-up apart; the WAV job of the 32-bit
#   program too, where the machine has the 32-bit Wine;
# - the program's peak memory for a 20 MB and a 2 GiB WAV file;
# then a line naming the machine and the date.
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
win32=$(cd "$win64/.." && pwd)/win32
minutes=${BENCH_MINUTES:-10}
large_mb=${BENCH_LARGE_MB:-2048}
if [ "$large_mb" -ge 4000 ]; then
  echo "BENCH_LARGE_MB must stay under 4000: a WAV file cannot hold 4 GiB" >&2
  exit 1
fi
for f in lame_enc.dll calbrune.exe calbrune_drive.exe; do
  [ -e "$win64/$f" ] || { echo "missing $win64/$f: run scripts/build.sh first" >&2; exit 1; }
done
bash "$repo_root/scripts/install-deps.sh" lame
bash "$repo_root/scripts/build-lame.sh" frontend
front=$repo_root/build/lame/frontend/frontend/lame.exe

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

run_front() { wine "$front" --quiet -b 128 -m j "$(windows "$1")" "$(windows "$work/front.mp3")" >"$work/front.out" 2>&1; }
# The program from its wizard, the MP3 beside the WAV. With "job", back to
# the first page after the end message, which gives the job's time and the
# program's peaks; else the program closes by itself when it is done. The
# drive cannot choose files in the folder the open-file dialog already
# shows, so each run has a folder of its own, with a link to the WAV.
# The program is the win64 build's unless $program names another build folder.
wizard_runs=0
run_wizard() {  # wav [job]
  local folder="$work/run$(( ++wizard_runs ))"
  mkdir "$folder"
  ln "$1" "$folder/in.wav"
  wine "$win64/calbrune_drive.exe" "$(windows "${program:-$win64}/calbrune.exe")" - --timed ${2:+--return} \
    "$(windows "$folder/in.wav")" >"$work/drive.out" 2>&1 && [ -s "$folder/in.mp3" ]
  rm -rf "$folder"
}
# What the drive printed: seconds from its start to the moment named, or a value.
elapsed() { tr -d '\r' <"$work/drive.out" | awk -v k="$1" '$1 == "elapsed" && $2 == k {print $3}'; }
field() { tr -d '\r' <"$work/drive.out" | awk -v k="$1" '$1 == k {print $2}'; }
job_seconds() { awk -v a="$(elapsed done)" -v b="$(elapsed finish)" 'BEGIN {printf "%.3f\n", a - b}'; }
# Runs a program with the server warm, once more if it fails (on a busy
# machine a Wine run is now and then lost), and leaves the seconds of the run
# that worked in $work/last.
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
fail_with() { echo "$1 failed:" >&2; cat "$2" >&2; exit 1; }

with32=0
wine32_present && [ -e "$win32/calbrune.exe" ] && with32=1
# One of each first, so that no timed run pays for a cold cache.
timed_run run_front "$work/warm.wav" || fail_with "lame.exe" "$work/front.out"
timed_run run_wizard "$work/warm.wav" job || fail_with "the wizard" "$work/drive.out"
[ $with32 = 0 ] || program=$win32 timed_run run_wizard "$work/warm.wav" job || fail_with "the 32-bit wizard" "$work/drive.out"

for name in cli front job jobws jobpriv wizard startup rest job32; do
  : >"$work/$name.times"
done
data_bytes=$(( $(stat -c %s "$work/timed.wav") - 44 ))
for i in $(seq "$runs"); do
  echo "run $i of $runs" >&2
  start=$(now)
  lame --quiet -b 128 -m j "$work/timed.wav" "$work/cli.mp3"
  seconds_since "$start" >>"$work/cli.times"

  timed_run run_front "$work/timed.wav" || fail_with "lame.exe" "$work/front.out"
  cat "$work/last" >>"$work/front.times"

  timed_run run_wizard "$work/timed.wav" job || fail_with "the wizard" "$work/drive.out"
  job_seconds >>"$work/job.times"
  field peak_working_set >>"$work/jobws.times"
  field peak_private >>"$work/jobpriv.times"
  if [ $with32 = 1 ]; then
    program=$win32 timed_run run_wizard "$work/timed.wav" job || fail_with "the 32-bit wizard" "$work/drive.out"
    job_seconds >>"$work/job32.times"
  fi

  timed_run run_wizard "$work/timed.wav" || fail_with "the wizard" "$work/drive.out"
  total=$(cat "$work/last")
  shown=$(elapsed wizard)
  echo "$total" >>"$work/wizard.times"
  echo "$shown" >>"$work/startup.times"
  awk -v a="$total" -v b="$shown" 'BEGIN {printf "%.3f\n", a - b}' >>"$work/rest.times"
done

# Peak memory must not grow with the file: a 20 MB file against a large one.
# A failure here is reported in the row; the times above stand.
memory_row() {
  local label=$1 wav=$2
  if ! timed_run run_wizard "$wav" job; then
    echo "| $label | failed: $(grep -a -m1 calbrune_drive: "$work/drive.out" || echo no message) | | | | |"
    return
  fi
  printf '| %s | — | %.2f | — | %s | %s |\n' "$label" "$(job_seconds)" "$(mib "$(field peak_working_set)")" \
    "$(mib "$(field peak_private)")"
}
sox -n -r 44100 -c 2 -b 16 "$work/small.wav" synth 119 pinknoise vol 0.3
small_bytes=$(stat -c %s "$work/small.wav")
small_row=$(memory_row "WAV job, peak memory, $(( small_bytes / 1048576 )) MiB WAV ($small_bytes bytes)" \
  "$work/small.wav")
rm -f "$work/small.wav" "$work/timed.wav" "$work"/*.mp3
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
  rm -f "$work/large.wav"
fi

cli=$(median "$work/cli.times")
row() {  # label, times file, ratio wanted (1/0), memory columns
  local m
  m=$(median "$2")
  printf '| %s | %s | %s | %s | %s |\n' "$1" "$m" "$(list "$2")" \
    "$([ "$3" = 1 ] && ratio "$m" "$cli" || echo —)" "$4"
}
echo
echo "$minutes-minute 44.1 kHz stereo WAV ($(( data_bytes / 1000000 )) MB), 128 kbps joint stereo;" \
  "median of $runs runs."
echo
echo "| Measure | Median (s) | Runs (s) | Ratio to \`lame\` | Peak working set | Peak private bytes |"
echo "|---|--:|---|--:|--:|--:|"
row "\`lame\` command line, native" "$work/cli.times" 1 " | "
row "LAME's own \`lame.exe\` under Wine, built like \`lame_enc.dll\` (start to exit)" "$work/front.times" 1 " | "
row "WAV job in the program (Finish to the end message, on the drive's clock; highest peaks)" \
  "$work/job.times" 1 "$(mib "$(sort -g "$work/jobws.times" | tail -1)") | $(mib "$(sort -g "$work/jobpriv.times" | tail -1)")"
if [ $with32 = 1 ]; then
  row "WAV job in the 32-bit program, as above" "$work/job32.times" 1 " | "
else
  echo "| WAV job in the 32-bit program | not measured: no 32-bit Wine on this machine | | | | |"
fi
row "Wizard end to end (\`calbrune_drive\` on \`calbrune.exe\`, drive's start to program's exit)" \
  "$work/wizard.times" 1 " | "
row "… of which the wizard's start-up (on the drive's clock: its start to the wizard shown)" \
  "$work/startup.times" 0 " | "
row "Wizard end to end without its start-up" "$work/rest.times" 1 " | "
echo "$small_row"
echo "$large_row"
cpu=$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)
echo
echo "Machine: ${cpu:-unknown CPU}, $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end;" \
  "$(wine --version), $(lame --version 2>&1 | sed -n '1s/ (http.*//p'), lame_enc.dll of LAME 3.100 (Debian 3.100-6);" \
  "$(date -u '+%Y-%m-%d %H:%M UTC')."
