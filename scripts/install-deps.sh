#!/usr/bin/env bash
# Installs the Debian packages that building and testing need; skips those
# already present. Adds the 32-bit Wine (wine32:i386) only where this
# machine's kernel runs 32-bit programs: elsewhere its loader would take over
# /usr/bin/wine and no wine call could run, so that is checked first, by
# running a small 32-bit program made here.
set -euo pipefail

packages=(
  cmake make git
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 xvfb xauth
  googletest libgtest-dev
  dpkg-dev g++ sox mpg123
  python3 locales
)
# Scripts that need more name it.
packages+=("$@")

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# A static i386 program that exits with 32; binutils comes with g++.
runs_32bit() {
  local dir status=1
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n  movl $1, %%eax\n  movl $32, %%ebx\n  int $0x80\n' >"$dir/t.s"
  if as --32 "$dir/t.s" -o "$dir/t.o" 2>/dev/null && ld -m elf_i386 "$dir/t.o" -o "$dir/t" 2>/dev/null; then
    "$dir/t" 2>/dev/null
    status=$?
  fi
  rm -rf "$dir"
  [ $status = 32 ]
}

add_i386=0
if runs_32bit; then
  packages+=(wine32:i386)
  dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1
elif installed wine32:i386; then
  echo "This kernel runs no 32-bit programs, yet wine32:i386 is installed: every wine call fails." >&2
  echo "Remove it as root: apt-get remove -y 'wine32:i386'" >&2
  exit 1
else
  echo "This kernel runs no 32-bit programs: no 32-bit Wine, the 32-bit build is built but not run."
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

cmd=(apt-get install -y --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  [ $add_i386 = 1 ] && echo "  dpkg --add-architecture i386" >&2
  echo "  apt-get update && ${cmd[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
[ $add_i386 = 1 ] && dpkg --add-architecture i386
apt-get update -qq
"${cmd[@]}"
