#!/usr/bin/env bash
# Builds libyuv, the one library the kit carries inside liblumokast, from
# Debian's source package, once per ABI, as a static library:
#   build-deps/libyuv-src/           the unpacked source, as it comes
#   build-deps/libyuv-<abi>/include  its headers
#   build-deps/libyuv-<abi>/lib      libyuv.a (position-independent, no JPEG)
#   build-deps/libyuv-<abi>/LICENSE  its licence notice, shipped with the kit
# A device build compiles libyuv for its ABI with that ABI's instruction set;
# so does this one, so that the 32-bit build carries libyuv's SSE2/SSSE3 rows
# (Debian's i386 binary is built without SSE and has only the C rows).
# Usage: scripts/build_libyuv.sh x86_64|i386
set -euo pipefail
cd "$(dirname "$0")/.."

abi=${1:?usage: scripts/build_libyuv.sh x86_64|i386}
version="0.0~git20230123.b2528b0-1"
deps=$PWD/build-deps
src=$deps/libyuv-src
prefix=$deps/libyuv-$abi

case "$abi" in
  x86_64) flags="-O2 -fPIC" ;;
  # The Android x86 ABI (cmake/toolchain-x86.cmake): i686 with SSSE3.
  i386) flags="-m32 -march=i686 -mssse3 -mfpmath=sse -mstackrealign -O2 -fPIC" ;;
  *) echo "build_libyuv: unknown ABI '$abi'" >&2; exit 2 ;;
esac

stamp="$version $flags"
if [ -f "$prefix/lib/libyuv.a" ] && [ "$(cat "$prefix/stamp" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi

# Debian's source packages: a deb-src entry in a sources file of our own.
fetch_source() {
  local list=/etc/apt/sources.list.d/lumokast-src.sources
  if [ ! -f "$list" ]; then
    local suite
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$suite" | $SUDO tee "$list" >/dev/null
    $SUDO apt-get update -qq
  fi
  local tmp
  tmp=$(mktemp -d)
  if ! (cd "$tmp" && apt-get source -qq "libyuv=$version" >/dev/null 2>&1); then
    $SUDO apt-get update -qq
    (cd "$tmp" && apt-get source -qq "libyuv=$version" >/dev/null) || {
      echo "build_libyuv: could not fetch Debian's source package libyuv $version" >&2
      rm -rf "$tmp"
      exit 1
    }
  fi
  mkdir -p "$deps"
  rm -rf "$src"
  mv "$tmp"/libyuv-*/ "$src"
  rm -rf "$tmp"
}

[ -f "$src/CMakeLists.txt" ] || fetch_source

echo "build_libyuv: building libyuv $version for $abi ($flags)"
work=$deps/libyuv-build-$abi
rm -rf "$work" "$prefix"
# JPEG support is left out: libyuv's CMake would otherwise pick up the
# machine's libjpeg, which the kit neither needs nor carries.
cmake -S "$src" -B "$work" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_C_FLAGS_RELEASE="" -DCMAKE_CXX_FLAGS_RELEASE="" \
  -DCMAKE_DISABLE_FIND_PACKAGE_JPEG=ON -Wno-dev >"$deps/libyuv-$abi.log" 2>&1 &&
  cmake --build "$work" --target yuv -j"$(nproc)" >>"$deps/libyuv-$abi.log" 2>&1 || {
  echo "build_libyuv: the build failed; see $deps/libyuv-$abi.log" >&2
  exit 1
}
mkdir -p "$prefix/lib"
cp "$work/libyuv.a" "$prefix/lib/"
cp -r "$src/include" "$prefix/include"
cp "$src/LICENSE" "$prefix/LICENSE"
rm -rf "$work" "$deps/libyuv-$abi.log"
echo "$stamp" >"$prefix/stamp"
