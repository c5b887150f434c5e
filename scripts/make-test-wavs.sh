#!/usr/bin/env bash
# Makes the WAV file that the header test reads, into tests/data: an
# extensible format chunk as ffmpeg writes it above 48 kHz. Run once by hand
# when it has to change; the file is committed so that building and testing
# need no ffmpeg.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$repo_root/scripts/install-deps.sh" ffmpeg
mkdir -p "$repo_root/tests/data"
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=96000 -ac 2 \
  -af atrim=end_sample=4410 -c:a pcm_s16le "$repo_root/tests/data/ffmpeg-s16-stereo-96000-extensible.wav"
