#!/usr/bin/env bash
# Installs what a fresh Debian machine is missing, builds libyuv for each ABI
# (scripts/build_libyuv.sh), then builds into build/ (64-bit host build) and,
# with --x86, into build-x86/ (the 32-bit x86 build the kit ships in, with
# Debian's i386 libraries and JVM; on a machine whose kernel does not execute
# i386 programs they run through qemu-i386: scripts/x86_exec.sh).
# Usage: scripts/setup.sh [--x86] [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

x86=0
if [ "${1:-}" = "--x86" ]; then
  x86=1
  shift
fi

PACKAGES=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  openjdk-17-jdk-headless dpkg-dev
  libopenh264-dev
  ffmpeg libavcodec-dev libavutil-dev libswresample-dev
  libomxil-bellagio-dev
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri libgles2 libgles1
  clang clang-format universal-ctags libclang-rt-14-dev
  gstreamer1.0-tools gstreamer1.0-libav gstreamer1.0-plugins-good chromium mono-mcs
)
# The 32-bit build: multilib compilers, the i386 JVM (the amd64 JDK compiles
# the jars and lends its JNI headers) and the i386 libraries; the amd64
# ffmpeg/ffprobe judge its files.
PACKAGES_X86=(
  g++-multilib qemu-user
  openjdk-17-jre-headless:i386
  libopenh264-dev:i386
  libavcodec-dev:i386 libavutil-dev:i386 libswresample-dev:i386
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
  libegl-dev:i386 libgles-dev:i386 libegl-mesa0:i386 libgl1-mesa-dri:i386
  libgles2:i386 libgles1:i386
)

SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi

wanted=("${PACKAGES[@]}")
if [ "$x86" = 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture"
    $SUDO dpkg --add-architecture i386
  fi
  wanted+=("${PACKAGES_X86[@]}")
fi

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
JOBS=$(nproc)
scripts/build_libyuv.sh x86_64
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j"$JOBS"
echo "setup: built into build/ (libraries in build/lib)"

if [ "$x86" = 1 ]; then
  # The build runs its 32-bit test programs (test discovery).
  . scripts/x86_exec.sh
  if [ -z "${X86_EXEC_MODE:-}" ]; then  # not prepared by the caller
    x86_exec_prepare || exit 1
    trap x86_exec_release EXIT
  fi
  scripts/build_libyuv.sh i386
  cmake -S . -B build-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build build-x86 -j"$JOBS"
  echo "setup: built the 32-bit x86 build into build-x86/ (libraries in build-x86/lib)"
fi
