#!/usr/bin/env bash
# Stress and fault runs of the WAV job: calbrune_wavejob under Wine with the
# Linux lame_enc.dll. After each run: planted MP3s unchanged unless their
# entry converted, no temporary file left, every entry either converted (and
# its MP3 decodes to the source's length) or reported failed with a reason,
# and no lame_enc_helper still running. One line per scenario; exit status 1
# when one fails, 2 when the runs cannot be made.
#
#   scripts/stress.sh [--short]
#
# CALBRUNE_STRESS_BUILD: folder with calbrune_wavejob.exe (built with its
#   cancel and entry options), lame_enc.dll and lame_enc_helper; build/win64
#   by default.
# CALBRUNE_STRESS_WINEPREFIX: Wine prefix, build/wineprefix-stress by default.
# CALBRUNE_STRESS_SEED: seed of the random cancel moments.
set -uo pipefail
# The reports are in Windows-1252.
export LC_ALL=C
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

short=0
if [ "${1:-}" = --short ]; then
  short=1
elif [ $# -gt 0 ]; then
  echo "usage: scripts/stress.sh [--short]" >&2
  exit 2
fi

build=${CALBRUNE_STRESS_BUILD:-$repo_root/build/win64}
job=$build/calbrune_wavejob.exe
for f in "$job" "$build/lame_enc.dll" "$build/lame_enc_helper"; do
  if [ ! -e "$f" ]; then
    echo "missing: $f" >&2
    exit 2
  fi
done
if ! grep -aq -- --cancel-after-steps "$job"; then
  echo "$job lacks the cancel options: rebuild calbrune_wavejob" >&2
  exit 2
fi
for tool in wine mpg123 sox python3 sha1sum timeout; do
  if ! command -v $tool >/dev/null; then
    echo "missing tool: $tool" >&2
    exit 2
  fi
done

if [ $short = 1 ]; then
  batch_size=50 big_bytes=$((100 * 1024 * 1024)) cancel_runs=5
else
  # Just past 2 GiB, so that no signed 32-bit count of bytes survives.
  batch_size=500 big_bytes=$((2 * 1024 * 1024 * 1024 + 4 * 44100 * 7)) cancel_runs=50
fi
seed=${CALBRUNE_STRESS_SEED:-$(( $(date +%s) % 100000 ))}
RANDOM=$seed

export CALBRUNE_WINEPREFIX=${CALBRUNE_STRESS_WINEPREFIX:-$repo_root/build/wineprefix-stress}
source "$repo_root/scripts/wine-env.sh"
# Passed on by Wine to the helpers: tells ours from other runs' on this machine.
export CALBRUNE_STRESS_TAG="stress-$$-$RANDOM$RANDOM"

work=$(mktemp -d /tmp/cbstress.XXXXXX)
xvfb_pid=
mounted=
cleanup() {
  local pid
  for pid in $(our_helpers); do kill -KILL "$pid" 2>/dev/null; done
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

# Live helpers started by our runs (zombies wait for Wine to reap them).
our_helpers() {
  local p pid
  for p in /proc/[0-9]*; do
    pid=${p#/proc/}
    [ "$(cat "$p/comm" 2>/dev/null)" = lame_enc_helper ] || continue
    grep -qzx "CALBRUNE_STRESS_TAG=$CALBRUNE_STRESS_TAG" "$p/environ" 2>/dev/null || continue
    [ "$(awk '{print $3}' "$p/stat" 2>/dev/null)" = Z ] && continue
    echo "$pid"
  done
}

if [ -z "${DISPLAY:-}" ]; then
  start_xvfb || exit 2
fi
ensure_wine_prefix
# Persistent between runs, and gone a minute after the last even if we are killed.
wineserver -p60
wine cmd /c exit </dev/null >/dev/null 2>&1

winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# A 16-bit stereo 44.1 kHz WAV of the given seconds (sox: 44-byte header).
proto=$work/proto
mkdir -p "$proto"
make_proto() { sox -r 44100 -c 2 -n -b 16 "$proto/$1.wav" synth "$2" sine 300-3000 sine 440 vol 0.5; }
make_proto s02 0.2
make_proto s1 1
make_proto s2 2.5
make_proto s10 10
make_proto s120 120
frames_of() { echo $(( ($(stat -c %s "$1") - 44) / 4 )); }

# --- the state of one run ---------------------------------------------------
# names: the sources in order; src/out: folders; frames[name]; planted[name]:
# checksum of the MP3 planted for it; other: a planted MP3 of no entry.
declare -a names
declare -A frames planted
src= out= other_sum=

new_run() {  # folder
  names=() frames=() planted=()
  src=$1/src out=$1/out
  mkdir -p "$src" "$out"
  head -c 30000 /dev/urandom >"$out/other.mp3"
  other_sum=$(sha1sum <"$out/other.mp3")
}

add_source() {  # name prototype [plant]
  cp "$proto/$2.wav" "$src/$1.wav"
  names+=("$1")
  frames[$1]=$(frames_of "$src/$1.wav")
  if [ "${3:-}" = plant ]; then
    head -c $((5000 + RANDOM)) /dev/urandom >"$out/$1.mp3"
    planted[$1]=$(sha1sum <"$out/$1.mp3")
  fi
}

source_args() { local n; for n in "${names[@]}"; do winpath "$src/$n.wav"; done; }

job_timeout=600
run_job() {  # report, then the driver's options (the folders and sources follow)
  local report=$1
  shift
  timeout -k 5 $job_timeout wine "$job" "$@" "$(winpath "$out")" $(source_args) \
    >"$report" 2>"$report.err" </dev/null
  echo $? >"$report.rc"
  sed -i 's/\r$//' "$report"
}

value() { awk -v k="$1" '$1 == k {print $2; exit}' "$2"; }

# Checks the run against its report. Mode "all": every entry converted or
# failed; "cancel": a prefix converted, the rest untouched. Adds to problems.
problems=()
check_run() {  # report mode
  local report=$1 mode=$2 rc n f sum decoded written=0 gap=0 reached=1
  rc=$(cat "$report.rc")
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    problems+=("the job did not end within ${job_timeout}s (hang)")
  elif [ "$rc" != 0 ] && [ "$rc" != 1 ]; then
    problems+=("driver exit status $rc: $(head -c 300 "$report.err" | tr '\n' ' ')")
  fi
  local converted end
  converted=$(value converted "$report")
  end=$(value end "$report")
  declare -A failed=()
  while IFS= read -r line; do
    n=${line#failed }
    n=${n%% : *}
    n=${n##*\\}
    n=${n%.wav}
    if [ "${line#* : }" = "$line" ] || [ -z "${line#* : }" ]; then
      problems+=("failure without a reason: $line")
    fi
    failed[$n]=1
  done < <(grep -a '^failed ' "$report")
  local nfailed=${#failed[@]}
  for n in "${names[@]}"; do
    f=$out/$n.mp3
    sum=
    [ -e "$f" ] && sum=$(sha1sum <"$f")
    if [ -z "$sum" ] || [ "$sum" = "${planted[$n]:-}" ]; then
      if [ -z "${failed[$n]:-}" ]; then
        [ "$mode" = all ] && problems+=("$n neither converted nor reported failed")
        reached=0
      fi
      continue
    fi
    if [ -n "${failed[$n]:-}" ]; then
      if [ -n "${planted[$n]:-}" ]; then
        problems+=("$n reported failed but its existing MP3 was changed")
      else
        problems+=("$n reported failed but an MP3 was written")
      fi
      continue
    fi
    written=$((written + 1))
    [ $reached = 0 ] && problems+=("$n converted after an entry that was not")
    decoded=$(( $(mpg123 -q -s "$f" 2>/dev/null | wc -c) / 4 ))
    # Decoded with the encoder's delay and padding: up to three frames more.
    gap=$((decoded - frames[$n]))
    if [ $gap -lt 0 ] || [ $gap -gt 3456 ]; then
      problems+=("$n.mp3 decodes to $decoded frames, the source has ${frames[$n]}")
    fi
  done
  if [ "${converted:-x}" != "$written" ]; then
    problems+=("report says ${converted:-nothing} converted, $written new MP3s found")
  fi
  if [ "$mode" = all ] && [ -n "$converted" ] && [ $((converted + nfailed)) != ${#names[@]} ]; then
    problems+=("$converted converted + $nfailed failed of ${#names[@]} entries")
  fi
  if [ "$mode" = cancel ] && [ "$end" = 1 ] && [ "$written" != ${#names[@]} ]; then
    problems+=("cancelled job reported completed with $written of ${#names[@]} converted")
  fi
  [ "$(sha1sum <"$out/other.mp3")" = "$other_sum" ] || problems+=("other.mp3 (no entry's) changed")
  local stray
  stray=$(find "$src" "$out" -name '*.~c*' | head -3)
  [ -n "$stray" ] && problems+=("temporary files left: $(echo $stray)")
  for f in "$out"/*; do
    n=$(basename "$f" .mp3)
    [ "$n" = other ] && continue
    [ -n "${frames[$n]:-}" ] && [ "$f" = "$out/$n.mp3" ] && continue
    problems+=("unexpected file in the output folder: $(basename "$f")")
  done
  check_helpers
}

check_helpers() {
  local i left
  for i in $(seq 1 30); do
    left=$(our_helpers)
    [ -z "$left" ] && return 0
    sleep 0.1
  done
  problems+=("lame_enc_helper still running 3 s after the job: pid $(echo $left)")
  for i in $left; do kill -KILL "$i" 2>/dev/null; done
}

expect_failed() {  # report, then the names that must be the failures
  local got want
  got=$(grep -a '^failed ' "$1" | sed 's/^failed //; s/ : .*//; s/.*\\//; s/\.wav$//' | sort | tr '\n' ' ')
  shift
  want=
  [ $# -gt 0 ] && want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  [ "$got" = "$want" ] || problems+=("failed entries: ${got:-none}, expected: $want")
}

status=0
started=$SECONDS
finish() {  # scenario [note]
  local took="$((SECONDS - started)) s"
  if [ ${#problems[@]} = 0 ]; then
    echo "$1: passed (${2:+$2; }$took)"
  else
    local IFS=';'
    echo "$1: FAILED: ${problems[*]} ($took)"
    status=1
  fi
  problems=()
  started=$SECONDS
}

# --- a large batch, and memory that does not grow with it ------------------
scenario_batch() {
  new_run "$work/batch"
  local i kinds=(s02 s1 s2)
  for i in $(seq 1 $batch_size); do
    add_source "b$(printf %03d $i)" ${kinds[i % 3]} $([ $((i % 7)) = 0 ] && echo plant)
  done
  run_job "$work/batch.txt"
  check_run "$work/batch.txt" all
  expect_failed "$work/batch.txt"
  finish batch "$batch_size files, $(value seconds "$work/batch.txt") s"

  # The same kind of files, five of them: the peak must not grow with the batch.
  new_run "$work/few"
  for i in 1 2 3 4 5; do add_source "w$i" ${kinds[i % 3]}; done
  run_job "$work/few.txt"
  check_run "$work/few.txt" all
  local small large
  small=$(value peak_working_set "$work/few.txt")
  large=$(value peak_working_set "$work/batch.txt")
  if [ -n "$small" ] && [ -n "$large" ]; then
    # Allowance: 4 MB or 10 %, for the driver's own record of progress messages.
    if [ $((large - small)) -gt $((4 * 1024 * 1024 + small / 10)) ]; then
      problems+=("peak working set $((large >> 20)) MB for $batch_size files, $((small >> 20)) MB for 5")
    fi
  else
    problems+=("no peak working set in the reports")
  fi
  finish memory "peak $((${small:-0} >> 20)) MB for 5 files, $((${large:-0} >> 20)) MB for $batch_size"
}

# --- one very large WAV ------------------------------------------------------
scenario_big() {
  local need avail
  need=$((big_bytes + big_bytes / 8 + 512 * 1024 * 1024))
  avail=$(df --output=avail -B1 "$work" | tail -1)
  if [ "$avail" -lt "$need" ]; then
    echo "big-wav: skipped (needs $((need >> 20)) MB free, $((avail >> 20)) MB free)"
    return
  fi
  new_run "$work/big"
  python3 - "$src/big.wav" "$big_bytes" "$proto/s10.wav" <<'EOF'
import struct, sys
path, size, pattern = sys.argv[1], int(sys.argv[2]), open(sys.argv[3], 'rb').read()[44:]
size -= size % 4
with open(path, 'wb') as f:
    f.write(b'RIFF' + struct.pack('<I', 36 + size) + b'WAVEfmt ' +
            struct.pack('<IHHIIHH', 16, 1, 2, 44100, 44100 * 4, 4, 16) +
            b'data' + struct.pack('<I', size))
    left = size
    while left:
        chunk = pattern[:left]
        f.write(chunk)
        left -= len(chunk)
EOF
  names=(big)
  frames[big]=$(frames_of "$src/big.wav")
  head -c 40000 /dev/urandom >"$out/big.mp3"
  planted[big]=$(sha1sum <"$out/big.mp3")
  run_job "$work/big.txt"
  check_run "$work/big.txt" all
  expect_failed "$work/big.txt"
  local peak
  peak=$(value peak_working_set "$work/big.txt")
  if [ "${peak:-0}" -gt $((128 * 1024 * 1024)) ]; then
    problems+=("peak working set $((peak >> 20)) MB for one file")
  fi
  rm -f "$src/big.wav"
  finish big-wav "$((big_bytes >> 20)) MB, $(value seconds "$work/big.txt") s, peak $((${peak:-0} >> 20)) MB"
}

# --- cancels at random moments -----------------------------------------------
cancel_batch() {  # folder
  new_run "$1"
  local i kinds=(s1 s02 s2 s1 s2 s02)
  for i in 1 2 3 4 5 6; do
    add_source "c$i" ${kinds[i - 1]} $([ $((i % 2)) = 0 ] && echo plant)
  done
}

scenario_cancel() {
  cancel_batch "$work/cancel0"
  run_job "$work/cancel0.txt"
  check_run "$work/cancel0.txt" all
  local pairs i option at done_before=0 cancelled=0
  pairs=$(value progress_pairs "$work/cancel0.txt")
  if [ -z "$pairs" ] || [ "$pairs" -lt 1 ]; then
    problems+=("no progress messages in an uncancelled run")
    finish cancel
    return
  fi
  for i in $(seq 1 $cancel_runs); do
    cancel_batch "$work/cancel$i"
    if [ $((RANDOM % 4)) = 0 ]; then
      option=--cancel-at-entry at=$((1 + RANDOM % 6))
    else
      option=--cancel-after-steps at=$((1 + RANDOM % pairs))
    fi
    run_job "$work/cancel$i.txt" $option $at
    local before=${#problems[@]}
    check_run "$work/cancel$i.txt" cancel
    grep -q '^cancel_requested' "$work/cancel$i.txt" || problems+=("no cancel was requested")
    [ "$(value end "$work/cancel$i.txt")" = 0 ] && cancelled=$((cancelled + 1))
    if [ ${#problems[@]} != "$before" ]; then
      problems[before]="run $i ($option $at): ${problems[before]}"
    fi
    rm -rf "$work/cancel$i"
  done
  finish cancel "$cancel_runs runs, $cancelled ended as cancelled, seed $seed"
}

# --- a full disk ---------------------------------------------------------------
scenario_full_disk() {
  local disk=$work/full
  mkdir -p "$disk"
  if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=1m calbrune-stress "$disk" 2>/dev/null; then
    echo "full-disk: skipped (cannot mount a small tmpfs: needs root)"
    return
  fi
  mounted=$disk
  new_run "$work/fullrun"
  out=$disk
  head -c 30000 /dev/urandom >"$out/other.mp3"
  other_sum=$(sha1sum <"$out/other.mp3")
  local i
  for i in 1 2 3 4 5 6 7 8; do
    add_source "d$i" s10 $([ $i = 8 ] && echo plant)
  done
  run_job "$work/full.txt"
  check_run "$work/full.txt" all
  local converted
  converted=$(value converted "$work/full.txt")
  if [ "${converted:-0}" -lt 1 ] || [ "$converted" -ge 8 ]; then
    problems+=("expected some files converted and some failed, got ${converted:-no} converted")
  fi
  finish full-disk "$converted of 8 converted on a 1 MB disk"
  umount "$disk" && mounted=
}

# --- sources deleted and locked during the batch -----------------------------
# As root a chmod 000 does not stop Wine from reading, and a Linux process's
# lock means nothing to Windows programs: the driver itself deletes one
# source and opens another with no sharing when entry 2 starts.
scenario_sources() {
  new_run "$work/sources"
  local i
  for i in $(seq 1 10); do
    add_source "g$(printf %02d $i)" s1 $([ $i = 7 ] || [ $i = 8 ] && echo plant)
  done
  run_job "$work/sources.txt" --delete-at-entry 2 "$(winpath "$src/g07.wav")" \
    --lock-at-entry 2 "$(winpath "$src/g08.wav")"
  grep -q '^deleted 1' "$work/sources.txt" || problems+=("g07.wav could not be deleted")
  grep -q '^locked 1' "$work/sources.txt" || problems+=("g08.wav could not be locked")
  check_run "$work/sources.txt" all
  expect_failed "$work/sources.txt" g07 g08
  finish source-gone "g07 deleted, g08 opened exclusively, at entry 2"
}

# --- the helper killed in the middle of a file --------------------------------
scenario_helper_killed() {
  new_run "$work/killed"
  add_source h1 s1
  add_source h2 s2
  add_source h3 s120 plant
  add_source h4 s1
  add_source h5 s02
  add_source h6 s2 plant
  run_job "$work/killed.txt" &
  local runner=$! killed= deadline=$((SECONDS + 60)) live
  # Entry 3's own helper: its temporary output exists and it is the only one.
  while [ $SECONDS -lt $deadline ] && kill -0 $runner 2>/dev/null; do
    if [ -e "$out/h3.~cb" ]; then
      live=$(our_helpers)
      if [ -n "$live" ] && [ "$(echo "$live" | wc -l)" = 1 ]; then
        sleep 0.2
        if [ -e "$out/h3.~cb" ] && kill -KILL "$live" 2>/dev/null; then
          killed=$live
          break
        fi
      fi
    fi
    sleep 0.02
  done
  wait $runner
  if [ -z "$killed" ]; then
    problems+=("entry 3's helper could not be caught while encoding")
  fi
  check_run "$work/killed.txt" all
  expect_failed "$work/killed.txt" h3
  finish helper-killed "helper of entry 3 killed${killed:+ (pid $killed)}"
}

scenario_batch
scenario_big
scenario_cancel
scenario_full_disk
scenario_sources
scenario_helper_killed
exit $status
