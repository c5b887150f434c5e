#!/usr/bin/env bash
# Checks a release as a Windows user meets it, in a fresh Wine prefix of its
# own (build/check-release): checksums, archive contents, the machine of each
# program and DLL, their manifests, the unpacked zips converting a WAV file
# (the win32 one where the machine has the 32-bit Wine), then the
# installer: silent install, the installed program converting a WAV file,
# silent uninstall, and an uninstall that leaves the user's MP3 files alone.
# The conversions go through the program's wizard with calbrune_drive.exe of
# build/win64 (scripts/build.sh makes it). One line per check; stops at the
# first failure with exit code 1.
#
#   scripts/check-release.sh [release folder, default dist]
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dist=$(realpath "${1:-$repo_root/dist}")
cd "$repo_root"

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
ok() { echo "ok: $*"; }

bash scripts/install-deps.sh
drive=$repo_root/build/win64/calbrune_drive.exe
[ -f "$drive" ] || fail "$drive is missing: run scripts/build.sh first"
setups=("$dist"/calbrune-*-setup.exe)
[ ${#setups[@]} -eq 1 ] && [ -f "${setups[0]}" ] ||
  fail "$dist holds no single calbrune-VERSION-setup.exe: run scripts/release.sh first"
setup=${setups[0]}
version=${setup##*/calbrune-}
version=${version%-setup.exe}
name=$dist/calbrune-$version

(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files of $dist"
ok "SHA256SUMS matches"

# Before the prefix: its wineserver may still run from an interrupted check.
export CALBRUNE_WINEPREFIX=$repo_root/build/check-release/prefix
WINEPREFIX=$CALBRUNE_WINEPREFIX wineserver -k 2>/dev/null || true
work=$repo_root/build/check-release
rm -rf "$work"
mkdir -p "$work"

# Exactly the files a user expects, texts that Notepad shows right.
for build in win64 win32; do
  python3 - "$name-$build.zip" "$work/$build" "$version" <<'EOF' || fail "$name-$build.zip is not as it should be"
import sys, zipfile
archive, target, version = sys.argv[1:]
names = ['Calbrune/', 'Calbrune/LAME-COPYING.txt', 'Calbrune/LICENCE.txt', 'Calbrune/LISEZMOI.txt',
         'Calbrune/calbrune.exe', 'Calbrune/lame_enc.dll']
with zipfile.ZipFile(archive) as z:
    if sorted(z.namelist()) != names:
        sys.exit('entries: %s' % z.namelist())
    for name in names[1:4]:
        data = z.read(name)
        if not data.startswith(b'\xef\xbb\xbf') or data.count(b'\n') != data.count(b'\r\n'):
            sys.exit('%s: not UTF-8 with a byte-order mark and CRLF line ends' % name)
        data.decode('utf-8')
    if ('Calbrune %s\r\n' % version).encode() not in z.read('Calbrune/LISEZMOI.txt'):
        sys.exit('LISEZMOI.txt does not name version %s' % version)
    z.extractall(target)
EOF
done
ok "both zips hold Calbrune/ with the program, lame_enc.dll, LISEZMOI.txt and both licences"

machine() { x86_64-w64-mingw32-objdump -f "$1" | sed -n 's/.*file format //p'; }
for file in "$work"/win64/Calbrune/{calbrune.exe,lame_enc.dll} "$setup" "$work"/win32/Calbrune/{calbrune.exe,lame_enc.dll}; do
  expected=pei-x86-64
  [ "${file#"$work"/win32/}" = "$file" ] || expected=pei-i386
  [ "$(machine "$file")" = "$expected" ] || fail "$file is $(machine "$file"), not $expected"
done
ok "x86-64 programs and DLL in the win64 zip and the installer, i386 in the win32 zip"

# Run as the user who starts them (else Windows would redirect the 32-bit
# program's writes under Program Files), on Windows 7 to 11.
for build in win64 win32; do
  program=$work/$build/Calbrune/calbrune.exe
  grep -qa 'requestedExecutionLevel level="asInvoker"' "$program" && [ "$(grep -ac '<supportedOS Id=' "$program")" = 4 ] ||
    fail "$program does not declare asInvoker and four supported Windows versions in its manifest"
done
ok "both programs' manifests ask for the user's own rights and name Windows 7 to 11"

listing=$(tar -tzf "$name-sources.tar.gz")
for entry in LICENSE CMakeLists.txt scripts/build-lame.sh 'lame-source/lame_.*\.dsc' \
             'lame-source/lame_.*\.orig\.tar\.gz' 'lame-source/lame_.*\.debian\.tar\.xz'; do
  grep -qx "calbrune-$version/$entry" <<<"$listing" || fail "the sources lack calbrune-$version/$entry"
done
ok "the sources hold the program's and LAME's source package"

source scripts/wine-env.sh
# No Linux menu entries for the shortcut the installer makes.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
start_wine_session

windows() { echo "Z:${1//\//\\}"; }
# A 2-second WAV file in a folder of its own, converted by the program at
# Windows path $1 through its wizard; its MP3 lands beside it. With a third
# argument, the destination page must show the program's own folder, where
# it can write.
convert() {
  local folder=$work/music-$2
  mkdir -p "$folder"
  sox -n -r 44100 -c 2 -b 16 "$folder/concert.wav" synth 2 sine 440
  wine "$drive" "$1" - "$(windows "$folder/concert.wav")" >"$work/drive-$2.log" 2>&1 ||
    fail "$1 did not convert a WAV file: $(cat "$work/drive-$2.log")"
  [ -z "${3:-}" ] || grep -qiF "destination: ${1%\\*} (" "$work/drive-$2.log" ||
    fail "$1 does not offer its own folder as the destination: $(grep -a destination: "$work/drive-$2.log")"
  local seconds
  seconds=$(mpg123 -q -s "$folder/concert.mp3" 2>/dev/null | wc -c | awk '{printf "%.2f", $1 / 176400}')
  awk -v s="$seconds" 'BEGIN { exit !(s > 1.9 && s < 2.2) }' ||
    fail "$folder/concert.mp3 is not a 2-second MP3 ($seconds)"
}

convert "$(windows "$work/win64/Calbrune/calbrune.exe")" zip own
ok "the unpacked win64 zip converts a WAV file to MP3 through its wizard, offering its own folder"
if wine32_present; then
  convert "$(windows "$work/win32/Calbrune/calbrune.exe")" zip32 own
  ok "the unpacked win32 zip converts a WAV file to MP3 through its wizard, offering its own folder"
else
  echo "not run: the win32 zip (this machine has no 32-bit Wine)"
fi

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Calbrune'
# The installer is a 64-bit program; where the 32-bit Wine is installed, `wine reg` is the 32-bit
# reg.exe, which sees the 32-bit view of the registry unless told otherwise.
reg_query() { wine reg query "$key" /reg:64; }
drive_c=$WINEPREFIX/drive_c
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Calbrune.lnk"
# The uninstaller runs a copy of itself and returns at once; it removes
# the key last.
uninstall() {
  wine "$1/desinstaller.exe" /S || fail "$1/desinstaller.exe /S failed"
  local i
  for i in $(seq 1 150); do
    reg_query >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  fail "the uninstall key is still there 30 s after the silent uninstall"
}

wine "$setup" /S || fail "the silent install failed"
installed="$drive_c/Program Files/Calbrune"
for file in calbrune.exe lame_enc.dll LISEZMOI.txt LICENCE.txt LAME-COPYING.txt; do
  cmp -s "$installed/$file" "$work/win64/Calbrune/$file" || fail "$installed/$file is not the win64 zip's"
done
[ -f "$installed/desinstaller.exe" ] || fail "no desinstaller.exe in $installed"
ok "silent install: the win64 zip's files and desinstaller.exe in C:\\Program Files\\Calbrune"

grep -qa 'Program Files\\Calbrune\\calbrune.exe' "$shortcut" 2>/dev/null ||
  fail "no Start-menu shortcut to the program at $shortcut"
ok "Start-menu shortcut to the installed program"

values=$(reg_query 2>/dev/null | tr -d '\r' | awk 'NF >= 3 {print $1 "=" $NF}') ||
  fail "no uninstall key $key"
for value in DisplayName=Calbrune DisplayVersion="$version" 'Publisher=.\+' 'DisplayIcon=.*calbrune\.exe,0' \
             'UninstallString=.*desinstaller\.exe"' 'QuietUninstallString=/S' 'EstimatedSize=0x[1-9a-f][0-9a-f]\+'; do
  grep -qx "$value" <<<"$values" || fail "the uninstall key lacks $value; it holds: $values"
done
ok "uninstall key with name, version $version, publisher, icon, size and uninstall commands"

convert 'C:\Program Files\Calbrune\calbrune.exe' installed
ok "the installed program converts a WAV file to MP3 through its wizard, with the installed DLL"

uninstall "$installed"
[ ! -e "$installed" ] || fail "the uninstall left $installed: $(ls -A "$installed")"
[ ! -e "$shortcut" ] || fail "the uninstall left the shortcut $shortcut"
[ -f "$work/music-installed/concert.mp3" ] || fail "the uninstall took the MP3 made meanwhile"
ok "silent uninstall: no file, shortcut or key left; the MP3 made meanwhile kept"

# Where a user keeps MP3 files in the program's folder, the uninstall keeps
# them, and the folder with them.
wine "$setup" /S '/D=C:\Musique\Calbrune' || fail "the silent install into C:\\Musique\\Calbrune failed"
chosen="$drive_c/Musique/Calbrune"
[ -f "$chosen/calbrune.exe" ] || fail "/D= did not install into C:\\Musique\\Calbrune"
cp "$work/music-installed/concert.mp3" "$chosen/"
uninstall "$chosen"
[ -f "$chosen/concert.mp3" ] || fail "the uninstall deleted the user's MP3 in $chosen"
[ "$(ls -A "$chosen")" = concert.mp3 ] || fail "the uninstall left in $chosen: $(ls -A "$chosen")"
ok "install into /D=C:\\Musique\\Calbrune; its uninstall keeps a user's MP3 there and removes the rest"
