#!/usr/bin/env bash
# Builds LAME's own lame_enc.dll for 64-bit and 32-bit Windows from Debian's
# source package of LAME, and puts each beside the program of its build
# (build/win64, build/win32) with LAME's licence text.
#
# The source package comes through apt, whose signed index checks every file
# it fetches, from deb-src entries made from this machine's own Debian
# entries; it is unpacked with Debian's patches applied and kept, like each
# build, in build/lame for the next time.
#
#   scripts/build-lame.sh [x86_64] [i686] [frontend]   (the two DLLs by default)
# frontend: LAME's own command-line program, lame.exe, built for 64-bit
# Windows the same way, for the benchmark (build/lame/frontend/frontend).
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$repo_root/build/lame

# The LAME we build and ship: Debian 12's.
lame_version=3.100-6
lame_upstream=${lame_version%-*}
# What LAME's configure gives GCC when it builds natively. Cross-compiling,
# it does not recognise MinGW's GCC and gives nothing, and the encoder then
# runs about 3.5 times slower.
lame_cflags="-O3 -fomit-frame-pointer -ffast-math -funroll-loops"

source_dir=$work/source/lame-$lame_upstream
adapt=$repo_root/scripts/lame

die() {
  echo "build-lame.sh: $*" >&2
  exit 1
}

# deb-src twins of the machine's Debian entries, one-line and deb822 alike.
debian_source_entries() {
  python3 - <<'EOF'
import glob, re

def debian(uris):
    return any('debian' in uri for uri in uris.split())

out = []
for path in ['/etc/apt/sources.list'] + sorted(glob.glob('/etc/apt/sources.list.d/*.list')):
    try:
        lines = open(path).read().splitlines()
    except OSError:
        continue
    for line in lines:
        m = re.match(r'\s*deb\s+(\[[^\]]*\]\s+)?(\S+)\s+(.+)', line.split('#', 1)[0])
        if m and debian(m.group(2)):
            out.append('deb-src %s%s %s' % (m.group(1) or '', m.group(2), m.group(3).strip()))
stanzas = []
for path in sorted(glob.glob('/etc/apt/sources.list.d/*.sources')):
    for stanza in re.split(r'\n[ \t]*\n', open(path).read()):
        lines = [l for l in stanza.splitlines() if not l.startswith('#')]
        fields = {l.split(':', 1)[0].strip().lower(): l.split(':', 1)[1].strip()
                  for l in lines if ':' in l and not l[:1].isspace()}
        if ('deb' in fields.get('types', '').split() and debian(fields.get('uris', ''))
                and fields.get('enabled', 'yes').lower() != 'no'):
            stanzas.append('\n'.join('Types: deb-src' if l.lower().startswith('types:') else l
                                     for l in lines))
print('\n'.join(out))
print('\n\n'.join(stanzas))
EOF
}

fetch_source() {
  [ -f "$source_dir/.unpacked-$lame_version" ] && return 0
  command -v dpkg-source >/dev/null || die "dpkg-source is missing (Debian package dpkg-dev)"
  local apt=$work/apt
  rm -rf "$apt" "$work/source"
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$work/source"
  debian_source_entries >"$apt/sources.list.d/debian-src.sources"
  grep -q . "$apt/sources.list.d/debian-src.sources" ||
    die "this machine's apt sources name no Debian archive to take LAME's source package from"
  local options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources.list.d"
                 -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1
                 -o APT::Sandbox::User="$(id -un)")
  echo "Fetching LAME's source package lame=$lame_version"
  apt-get "${options[@]}" -qq update ||
    die "apt could not read the Debian source indexes (network, or the archive's signature)"
  (cd "$work/source" && apt-get "${options[@]}" -qq source "lame=$lame_version" >"$work/source/fetch.log" 2>&1) ||
    die "LAME's source package lame=$lame_version cannot be had: $(tail -n 3 "$work/source/fetch.log")"
  [ -f "$source_dir/Dll/BladeMP3EncDLL.c" ] || die "the source package unpacked without its Dll folder"
  touch "$source_dir/.unpacked-$lame_version"
}

# Exported names, as the DLL's export table lists them.
exports_of() {
  "$1-w64-mingw32-objdump" -p "$2" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 3 {print $3} on && NF == 0 {on = 0}'
}

build_arch() {
  local arch=$1 out=$work/$arch
  local cc=$arch-w64-mingw32-gcc
  # No build path and no date of today in the DLL: two builds of one source are the same file.
  local epoch
  epoch=$(stat -c %Y "$source_dir/ChangeLog")
  local reproducible="-ffile-prefix-map=$source_dir=lame-$lame_upstream -ffile-prefix-map=$adapt=lame-$lame_upstream/Dll -ffile-prefix-map=$out=."
  local stamp="$lame_version|$lame_cflags|$reproducible|$(cat "$adapt"/* | sha1sum)"
  if [ ! -f "$out/lame_enc.dll" ] || [ "$(cat "$out/.stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$out"
    mkdir -p "$out"
    (
      cd "$out"
      export SOURCE_DATE_EPOCH=$epoch
      CFLAGS="$lame_cflags $reproducible" "$source_dir/configure" --host="$arch-w64-mingw32" \
        --disable-shared --enable-static --disable-frontend --disable-decoder --disable-gtktest \
        --disable-analyzer-hooks >configure.log 2>&1
      make -C libmp3lame -j "$(nproc)" >make.log 2>&1
      "$cc" $lame_cflags $reproducible -Wno-attributes -D_BLADEDLL -I"$adapt" -I"$source_dir/Dll" \
        -I"$source_dir/include" -I"$source_dir/libmp3lame" -c "$adapt/lame_enc_dll.c" -o lame_enc_dll.o
      "$cc" -shared -o lame_enc.dll lame_enc_dll.o "$source_dir/Dll/BladeMP3EncDLL.def" \
        libmp3lame/.libs/libmp3lame.a -static-libgcc -s -Wl,--no-insert-timestamp
    ) || die "building lame_enc.dll for $arch failed; see $out/*.log"
    echo "$stamp" >"$out/.stamp"
  fi
  check_dll "$arch" "$out"
}

# The DLL is of the right machine and exports the entry points by their
# plain names; in the 32-bit one they are cdecl, as our entry-point pointers
# are (a stdcall function would be named _beInitStream@16 in the object).
check_dll() {
  local arch=$1 out=$2 machine=pei-x86-64 name
  [ "$arch" = i686 ] && machine=pei-i386
  "$arch-w64-mingw32-objdump" -f "$out/lame_enc.dll" | grep -q "file format $machine" ||
    die "$out/lame_enc.dll is not a $machine file"
  local exports
  exports=$(exports_of "$arch" "$out/lame_enc.dll")
  for name in beInitStream beEncodeChunk beDeinitStream beCloseStream beWriteVBRHeader beVersion lame_close; do
    grep -qx "$name" <<<"$exports" || die "$out/lame_enc.dll does not export $name"
    if [ "$arch" = i686 ] && [ "${name#be}" != "$name" ]; then
      "$arch-w64-mingw32-nm" "$out/lame_enc_dll.o" | grep -qx "[0-9a-f]* T _$name" ||
        die "$name is not a cdecl function in the 32-bit DLL"
    fi
  done
}

build_frontend() {
  local out=$work/frontend
  [ -f "$out/frontend/lame.exe" ] && [ "$(cat "$out/.stamp" 2>/dev/null)" = "$lame_version|$lame_cflags" ] && return 0
  rm -rf "$out"
  mkdir -p "$out"
  (
    cd "$out"
    CFLAGS="$lame_cflags" "$source_dir/configure" --host=x86_64-w64-mingw32 --disable-shared --enable-static \
      --disable-decoder --disable-gtktest --disable-analyzer-hooks >configure.log 2>&1
    make -j "$(nproc)" >make.log 2>&1
  ) || die "building lame.exe failed; see $out/*.log"
  echo "$lame_version|$lame_cflags" >"$out/.stamp"
}

archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(x86_64 i686)
fetch_source
for arch in "${archs[@]}"; do
  case $arch in
    frontend) build_frontend; continue ;;
    x86_64) folder=win64 ;;
    i686) folder=win32 ;;
    *) die "unknown architecture $arch" ;;
  esac
  build_arch "$arch"
  mkdir -p "$repo_root/build/$folder"
  cp "$work/$arch/lame_enc.dll" "$repo_root/build/$folder/lame_enc.dll"
  cp "$source_dir/COPYING" "$repo_root/build/$folder/LAME-COPYING.txt"
done
