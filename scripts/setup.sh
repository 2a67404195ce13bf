#!/usr/bin/env bash
# Installs what a fresh Debian machine is missing, then builds into build/.
# Usage: scripts/setup.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  openjdk-17-jdk-headless
  libyuv-dev libopenh264-dev
  ffmpeg libavcodec-dev libavutil-dev libswresample-dev
  libomxil-bellagio-dev
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri libgles2 libgles1
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
JOBS=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j"$JOBS"
echo "setup: built into build/ (libraries in build/lib)"
