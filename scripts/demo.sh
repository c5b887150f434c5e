#!/usr/bin/env bash
# Shows the wizard at work with no screen needed: makes a few WAV files and
# lets calbrune_drive go through all six pages of the program on a private
# Xvfb display. The program is the simulated-CD build, copied into
# C:\Calbrune of the Wine prefix, whose drive G: holds a disc of four tracks:
# the tour looks at them, goes back, converts the WAV files and returns to
# the first page.
# Usage: demo.sh [output folder, default build/demo]. Leaves the WAV and MP3
# files there and a PNG of every step in its screens/ folder, taken with
# ImageMagick where the driver says the sheet is.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"
out=$(realpath -m "${1:-build/demo}")

bash scripts/install-deps.sh imagemagick
CALBRUNE_SKIP_WIN32=1 bash scripts/build.sh

mkdir -p "$out"
rm -rf "$out/screens"
rm -f "$out"/*.mp3
mkdir "$out/screens"
make_wav() { sox -n -r 44100 -c 2 -b 16 "$out/$1" synth "${@:2}"; }
make_wav concert.wav 4 pluck C4 pluck E4 fade q 0.02 4 1.5 vol 0.8
make_wav répétition.wav 3 sine 220-880 sine 330-1320 fade q 0.1 3 0.5 vol 0.5
make_wav final.wav 3 pluck G3 pluck B3 tremolo 6 30 fade q 0.02 3 1.5

source scripts/wine-env.sh
ensure_wine_prefix
start_xvfb
trap 'wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
wineserver -p 2>/dev/null || true  # one may already serve the prefix
# Wine's services start with the first program and keep its output open.
wine cmd /c exit </dev/null >/dev/null 2>&1

windows() { echo "Z:${1//\//\\}"; }
wavs=()
for name in concert.wav répétition.wav final.wav; do
  wavs+=("$(windows "$out/$name")")
done
disc="G=15301,9000,13000,11000"
# Wine takes the language of the sheet's own buttons and the encoding of file
# names from the locale: French buttons where the French locale can be had,
# never a locale that does not exist (file names would lose their accents).
demo_lang=${LANG:-C.UTF-8}
if locale -a | grep -qx fr_FR.utf8 || localedef -i fr_FR -f UTF-8 fr_FR.UTF-8 2>/dev/null; then
  demo_lang=fr_FR.UTF-8
fi
# The program in a folder of its own, as a user extracts the zip: the
# destination page offers that folder.
mkdir -p "$WINEPREFIX/drive_c/Calbrune"
cp build/win64/calbrune_simcd.exe "$WINEPREFIX/drive_c/Calbrune/calbrune.exe"
cp build/win64/lame_enc.dll "$WINEPREFIX/drive_c/Calbrune/"
# The driver says where the sheet is on each page and waits while we take it.
shots=0
LC_ALL=$demo_lang CALBRUNE_SIMCD=$disc wine build/win64/calbrune_drive.exe 'C:\Calbrune\calbrune.exe' \
  - --return --tour --shots "${wavs[@]}" | while read -r word page geometry; do
  echo "$word $page $geometry"
  if [ "$word" = shot ]; then
    shots=$((shots + 1))
    import -display "$DISPLAY" -window root -crop "${geometry%$'\r'}" +repage "$out/screens/$(printf %02d $shots)-$page.png"
  fi
done
echo
echo "MP3 files, beside the WAV files in $out:"
ls -l "$out"/*.mp3
echo "Screenshots in $out/screens:"
ls "$out/screens"
