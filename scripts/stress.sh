#!/usr/bin/env bash
# Stress and fault runs of the WAV conversion: calbrune.exe with LAME's
# lame_enc.dll under Wine, its wizard driven by calbrune_drive. After each
# run: planted MP3s unchanged unless their entry converted, no temporary file
# left, every entry either converted (and its MP3 decodes to the source's
# length) or named as failed with a reason in the end message. Sources that
# cannot be read are the wizard tests' concern. One line per
# scenario; exit status 1 when one fails, 2 when the runs cannot be made.
#
#   scripts/stress.sh [--short]
#
# CALBRUNE_STRESS_BUILD: folder with calbrune.exe, lame_enc.dll and
#   calbrune_drive.exe; build/win64 by default.
# CALBRUNE_STRESS_WINEPREFIX: Wine prefix, build/wineprefix-stress by default.
# CALBRUNE_STRESS_SEED: seed of the random cancel moments.
set -uo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

short=0
if [ "${1:-}" = --short ]; then
  short=1
elif [ $# -gt 0 ]; then
  echo "usage: scripts/stress.sh [--short]" >&2
  exit 2
fi

build=${CALBRUNE_STRESS_BUILD:-$repo_root/build/win64}
for f in calbrune.exe lame_enc.dll calbrune_drive.exe; do
  [ -e "$build/$f" ] || { echo "missing: $build/$f" >&2; exit 2; }
done
for tool in wine mpg123 sox python3 sha1sum timeout; do
  command -v $tool >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
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
# Not under /tmp, which the folder browser would list on its way.
mkdir -p "$repo_root/build"
work=$(mktemp -d "$repo_root/build/stress.XXXXXX")
xvfb_pid=
mounted=
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM
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
frames_of() { echo $(( ($(stat -c %s "$1") - 44) / 4 )); }

# --- the state of one run ---------------------------------------------------
# names: the sources in order; src: their folder; out: where the MP3s go
# (beside the sources unless changed); frames[name]; planted[name]: checksum
# of the MP3 planted for it; other: a planted MP3 of no entry.
declare -a names
declare -A frames planted
src= out= other_sum=

new_run() {  # folder
  names=() frames=() planted=()
  src=$1 out=$1
  mkdir -p "$src"
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

run_job() {  # log, then the driver's options
  local log=$1 destination=-
  shift
  [ "$out" != "$src" ] && destination=$(winpath "$out")
  local sources=()
  for n in "${names[@]}"; do sources+=("$(winpath "$src/$n.wav")"); done
  timeout -k 5 900 wine "$build/calbrune_drive.exe" "$(winpath "$build/calbrune.exe")" "$destination" \
    --return --timed "$@" "${sources[@]}" >"$log" 2>&1 </dev/null
  echo $? >"$log.rc"
  sed -i 's/\r$//' "$log"
}

# The driver prints the program's texts as they are, in Windows-1252: grep and sed read them
# as bytes, which a UTF-8 locale would not match.
bytes() { LC_ALL=C "$@"; }
value() { awk -v k="$1" '$1 == k {print $2; exit}' "$2"; }
# The names of the entries the end message says failed.
failed_names() { bytes grep -a '^Z:.*\.wav : ' "$1" | bytes sed 's/ : .*//; s/.*\\//; s/\.wav$//' | sort; }

# Checks the run against its end message. Mode "all": every entry converted
# or failed; "cancel": a prefix converted, the rest untouched. Adds to problems.
problems=()
check_run() {  # log mode
  local log=$1 mode=$2 rc n f sum decoded written=0 gap reached=1 converted
  rc=$(cat "$log.rc")
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    problems+=("the run did not end in time (hang)")
  elif [ "$rc" != 0 ]; then
    problems+=("driver exit status $rc: $(grep -a calbrune_drive: "$log" | head -c 300)")
  fi
  if grep -qa '^message: Encodage reussi!' "$log"; then
    converted=${#names[@]}
  else
    converted=$(bytes grep -a 'Fichiers encod.s : ' "$log" | bytes sed 's/.*: //')
  fi
  declare -A failed=()
  for n in $(failed_names "$log"); do failed[$n]=1; done
  for n in "${names[@]}"; do
    f=$out/$n.mp3
    sum=
    [ -e "$f" ] && sum=$(sha1sum <"$f")
    if [ -z "$sum" ] || [ "$sum" = "${planted[$n]:-}" ]; then
      if [ -z "${failed[$n]:-}" ]; then
        [ "$mode" = all ] && problems+=("$n neither converted nor said to have failed")
        reached=0
      fi
      continue
    fi
    if [ -n "${failed[$n]:-}" ]; then
      problems+=("$n said to have failed but its MP3 was written or changed")
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
  if [ "$mode" = all ] && [ "${converted:-x}" != "$written" ]; then
    problems+=("the end message says ${converted:-nothing} converted, $written new MP3s found")
  fi
  if [ "$mode" = cancel ] && [ "$written" != ${#names[@]} ] && grep -qa '^message: Encodage reussi' "$log"; then
    problems+=("cancelled run said to have succeeded with $written of ${#names[@]} converted")
  fi
  [ "$(sha1sum <"$out/other.mp3")" = "$other_sum" ] || problems+=("other.mp3 (no entry's) changed")
  local stray
  stray=$(find "$src" "$out" -name '*.~c*' | head -3)
  [ -n "$stray" ] && problems+=("temporary files left: $(echo $stray)")
}

expect_failed() {  # log, then the names that must be the failures
  local got want=
  got=$(failed_names "$1" | tr '\n' ' ')
  shift
  [ $# -gt 0 ] && want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  [ "$got" = "$want" ] || problems+=("failed entries: ${got:-none}, expected: ${want:-none}")
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
  run_job "$work/batch.log"
  check_run "$work/batch.log" all
  expect_failed "$work/batch.log"
  local seconds
  seconds=$(awk '$2 == "finish" {f = $3} $2 == "done" {print $3 - f}' "$work/batch.log")
  finish batch "$batch_size files, ${seconds:-?} s"

  # The same kind of files, five of them: the peak must not grow with the batch.
  new_run "$work/few"
  for i in 1 2 3 4 5; do add_source "w$i" ${kinds[i % 3]}; done
  run_job "$work/few.log"
  check_run "$work/few.log" all
  local small large
  small=$(value peak_working_set "$work/few.log")
  large=$(value peak_working_set "$work/batch.log")
  if [ -n "$small" ] && [ -n "$large" ]; then
    # Allowance: 4 MB or 10 %, for the longer list on the page.
    if [ $((large - small)) -gt $((4 * 1024 * 1024 + small / 10)) ]; then
      problems+=("peak working set $((large >> 20)) MB for $batch_size files, $((small >> 20)) MB for 5")
    fi
  else
    problems+=("no peak working set in the logs")
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
  run_job "$work/big.log"
  check_run "$work/big.log" all
  expect_failed "$work/big.log"
  local peak
  peak=$(value peak_working_set "$work/big.log")
  if [ "${peak:-0}" -gt $((128 * 1024 * 1024)) ]; then
    problems+=("peak working set $((peak >> 20)) MB for one file")
  fi
  rm -f "$src/big.wav"
  finish big-wav "$((big_bytes >> 20)) MB, peak $((${peak:-0} >> 20)) MB"
}

# --- cancels at random moments -----------------------------------------------
cancel_batch() {  # folder
  new_run "$1"
  local i kinds=(s10 s2 s10 s1 s10 s2)
  for i in 1 2 3 4 5 6; do
    add_source "c$i" ${kinds[i - 1]} $([ $((i % 2)) = 0 ] && echo plant)
  done
}

scenario_cancel() {
  local i at cancelled=0
  for i in $(seq 1 $cancel_runs); do
    cancel_batch "$work/cancel$i"
    at=$((1 + RANDOM % 1023))
    run_job "$work/cancel$i.log" --cancel-at $at
    local before=${#problems[@]}
    check_run "$work/cancel$i.log" cancel
    grep -qa '^message: Encodage interrompu!' "$work/cancel$i.log" && cancelled=$((cancelled + 1))
    if [ ${#problems[@]} != "$before" ]; then
      problems[before]="run $i (cancel at $at of 1024): ${problems[before]}"
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
  run_job "$work/full.log"
  check_run "$work/full.log" all
  local converted
  converted=$(bytes grep -a 'Fichiers encod.s : ' "$work/full.log" | bytes sed 's/.*: //')
  if [ "${converted:-0}" -lt 1 ] || [ "$converted" -ge 8 ]; then
    problems+=("expected some files converted and some failed, got ${converted:-no} converted")
  fi
  finish full-disk "${converted:-no} of 8 converted on a 1 MB disk"
  umount "$disk" && mounted=
}

scenario_batch
scenario_big
scenario_cancel
scenario_full_disk
exit $status
