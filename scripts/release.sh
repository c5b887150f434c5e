#!/usr/bin/env bash
# Makes the release of the last commit in dist/: the 64-bit and 32-bit zips,
# the French 64-bit installer, the sources (the program's and the LAME source
# package its lame_enc.dll is built from) and their SHA256SUMS.
# It builds from the commit itself, unpacked in build/release, so that
# uncommitted changes never reach a release; two runs on one commit, in any
# folder and on any day, give the same zips and sources. Needs network access
# to the Debian archive for LAME's source package.
#
#   scripts/release.sh
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"

die() {
  echo "release.sh: $*" >&2
  exit 1
}

bash scripts/install-deps.sh nsis dpkg-dev

commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "release.sh: uncommitted changes are left out; releasing commit $commit"
# Every date in the release is the commit's.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")

work=$repo_root/build/release
rm -rf "$work"
mkdir -p "$work/src"
git -c tar.umask=0022 archive --format=tar "$commit" | tar -x -C "$work/src"

# The release's builds: only the program, stripped.
src=$work/src
(cd "$src" && bash scripts/build-lame.sh x86_64 i686)
for build in win64:x86_64 win32:i686; do
  dir=${build%:*}
  cmake -S "$src" -B "$src/build/$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-${build#*:}.cmake" -DCMAKE_EXE_LINKER_FLAGS=-s >/dev/null
  cmake --build "$src/build/$dir" --target calbrune -j "$(nproc)" >"$work/build-$dir.log" ||
    die "the $dir build failed; see $work/build-$dir.log"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$src/build/win64/CMakeCache.txt")
[ -n "$version" ] || die "no project version in the CMake cache"
# Four numbers for the installer's version block.
version_numbers=$(IFS=.; set -- $version 0 0 0; echo "$1.$2.$3.$4")
lame_files=("$src"/build/lame/source/lame_*.dsc "$src"/build/lame/source/lame_*.orig.tar.gz
            "$src"/build/lame/source/lame_*.debian.tar.xz)
for f in "${lame_files[@]}"; do
  [ -f "$f" ] || die "LAME's source package file $f is missing"
done
lame_version=$(basename "${lame_files[0]}" .dsc)
lame_version=${lame_version#lame_}

# Texts for Windows: CRLF, and UTF-8 with a byte-order mark, which Notepad
# shows right on every Windows whatever its code page.
windows_text() {
  python3 - "$@" <<'EOF'
import sys
source, target, version, lame_version = sys.argv[1:]
text = open(source, encoding='utf-8').read()
text = text.replace('@VERSION@', version).replace('@LAME_VERSION@', lame_version)
open(target, 'wb').write(b'\xef\xbb\xbf' + text.replace('\n', '\r\n').encode('utf-8'))
EOF
}

stage=$work/stage
for dir in win64 win32; do
  folder=$stage/$dir/Calbrune
  mkdir -p "$folder"
  cp "$src/build/$dir/calbrune.exe" "$src/build/$dir/lame_enc.dll" "$folder/"
  windows_text "$src/res/LISEZMOI.txt" "$folder/LISEZMOI.txt" "$version" "$lame_version"
  windows_text "$src/LICENSE" "$folder/LICENCE.txt" "$version" "$lame_version"
  windows_text "$src/build/$dir/LAME-COPYING.txt" "$folder/LAME-COPYING.txt" "$version" "$lame_version"
  touch -d "@$SOURCE_DATE_EPOCH" "$folder"/*
done

rm -rf dist
mkdir dist
name=calbrune-$version

# Sorted entries, the commit's date, and MS-DOS attributes only: no owner,
# and unzip gives the files the user's usual permissions.
python3 - "$stage" "$repo_root/dist/$name" <<'EOF'
import os, sys, time, zipfile
stage, prefix = sys.argv[1:]
date = time.gmtime(int(os.environ['SOURCE_DATE_EPOCH']))[:6]

def entry(name, attributes):
    info = zipfile.ZipInfo(name, date)
    info.create_system = 0
    info.external_attr = attributes
    return info

for build in ('win64', 'win32'):
    folder = os.path.join(stage, build, 'Calbrune')
    with zipfile.ZipFile('%s-%s.zip' % (prefix, build), 'w') as z:
        z.writestr(entry('Calbrune/', 0x10), b'')
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), 'rb') as f:
                z.writestr(entry('Calbrune/' + name, 0x20), f.read(), zipfile.ZIP_DEFLATED, 9)
EOF

makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DVERSION_NUMBERS="$version_numbers" \
  -DFILES="$stage/win64/Calbrune" -DPICTURES="$src/res" -DOUTFILE="$repo_root/dist/$name-setup.exe" \
  "$src/scripts/installer.nsi" >"$work/makensis.log" || die "makensis failed; see $work/makensis.log"

# The program's source as committed, and beside it the files of LAME's source
# package, which the LGPL asks to hand over with the DLL.
git -c tar.umask=0022 archive --format=tar --prefix="$name/" "$commit" >"$work/sources.tar"
tar --append -f "$work/sources.tar" --owner=0 --group=0 --numeric-owner --mode=0644 \
  --mtime="@$SOURCE_DATE_EPOCH" --transform="s,^,$name/lame-source/," \
  -C "$src/build/lame/source" "${lame_files[@]##*/}"
gzip -9 -n <"$work/sources.tar" >"dist/$name-sources.tar.gz"

(cd dist && sha256sum "$name-win64.zip" "$name-win32.zip" "$name-setup.exe" "$name-sources.tar.gz" >SHA256SUMS)
echo "Release $version of commit $commit in dist/:"
(cd dist && ls -l)
