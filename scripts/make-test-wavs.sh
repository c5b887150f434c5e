#!/usr/bin/env bash
# Makes the WAV files that the header tests read, into tests/data. Run once by
# hand when the set changes; the files are committed so that building and
# testing need neither sox nor ffmpeg. Every file holds 4410 frames (the tests
# rely on that count).
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$repo_root/scripts/install-deps.sh" ffmpeg
out="$repo_root/tests/data"
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
tone() { echo "-f lavfi -i sine=frequency=440:sample_rate=$1"; }

# sox: plain 16-byte format chunk, data right after it.
sox -r 44100 -c 2 -n -b 16 sox-s16-stereo-44100.wav synth 4410s sine 440 sine 660 vol 0.5
sox -r 22050 -c 1 -n -b 16 sox-s16-mono-22050.wav synth 4410s sine 440 vol 0.5
sox -r 8000 -c 1 -n -b 8 -e unsigned sox-u8-mono-8000.wav synth 4410s sine 440 vol 0.5
sox -r 11025 -c 2 -n -b 8 -e unsigned sox-u8-stereo-11025.wav synth 4410s sine 440 sine 660 vol 0.5
# Past 16 bits sox writes the extensible format.
sox -r 44100 -c 2 -n -b 24 sox-s24-stereo-44100.wav synth 4410s sine 440 vol 0.5
# Refused: A-law, six channels, a rate below 8000 Hz.
sox -r 8000 -c 1 -n -e a-law sox-alaw-mono-8000.wav synth 4410s sine 440 vol 0.5
sox -r 44100 -c 6 -n -b 16 sox-s16-6ch-44100.wav synth 4410s sine 440 vol 0.5
sox -r 4000 -c 1 -n -b 16 sox-s16-mono-4000.wav synth 4410s sine 440 vol 0.5

# ffmpeg: a LIST chunk between the format and the data chunks; above 48 kHz
# or 16 bits it writes the extensible format.
ff $(tone 44100) -ac 2 -af atrim=end_sample=4410 -c:a pcm_s16le ffmpeg-s16-stereo-44100-list.wav
ff $(tone 32000) -ac 1 -af atrim=end_sample=4410 -c:a pcm_u8 ffmpeg-u8-mono-32000-list.wav
ff $(tone 96000) -ac 2 -af atrim=end_sample=4410 -c:a pcm_s16le ffmpeg-s16-stereo-96000-extensible.wav
ff $(tone 96000) -ac 1 -af atrim=end_sample=4410 -c:a pcm_u8 ffmpeg-u8-mono-96000-extensible.wav
# 32-bit floating point (extensible both, the float sub-format).
ff $(tone 44100) -ac 2 -af atrim=end_sample=4410 -c:a pcm_f32le ffmpeg-f32-stereo-44100.wav
ff $(tone 96000) -ac 2 -af atrim=end_sample=4410 -c:a pcm_f32le ffmpeg-f32-stereo-96000-extensible.wav
# Without metadata ffmpeg writes the canonical 44-byte header.
ff $(tone 48000) -ac 1 -af atrim=end_sample=4410 -c:a pcm_s16le -bitexact -map_metadata -1 \
  ffmpeg-s16-mono-48000-plain.wav

# The 18-byte format chunk (cbSize 0) that some writers use, made from the
# sox file: data then starts at byte 46.
python3 - <<'PY'
import struct
src = open("sox-s16-stereo-44100.wav", "rb").read()
assert src[12:20] == b"fmt \x10\x00\x00\x00" and src[36:40] == b"data"
fmt = src[20:36] + b"\x00\x00"
body = b"WAVE" + b"fmt " + struct.pack("<I", 18) + fmt + src[36:]
open("s16-stereo-44100-fmt18.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY
