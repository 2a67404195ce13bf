#!/usr/bin/env bash
# Runs the demo game from a build folder.
# Usage: samples/demo/run.sh BUILD_DIR [DemoGame options...] [out.mp4]
# The native libraries come from BUILD_DIR/lib, the jars from BUILD_DIR/java;
# DEVICE_PROFILE (a file under platform/devices/) picks the simulated device.
set -euo pipefail
build=$(cd "$1" && pwd)
shift
# The JVM must be of the libraries' ABI: the 32-bit build (ELF class 1)
# loads in the i386 JVM.
if [ "$(od -An -tu1 -j4 -N1 "$build/lib/liblumokast.so" 2>/dev/null | tr -d ' ')" = 1 ]; then
  JAVA=${JAVA_X86:-/usr/lib/jvm/java-17-openjdk-i386/bin/java}
else
  JAVA=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}/bin/java
  [ -x "$JAVA" ] || JAVA=java
fi
# LIBEGL: the capture library reaches EGL through the host EGL layer, which
# makes GraphicBuffer images work on Mesa (the GLES 2 read-back path).
export LIBEGL=${LIBEGL:-$build/lib/libqorhost_egl.so}
export EGL_PLATFORM=${EGL_PLATFORM:-surfaceless}
# The kit's log lines are off unless LUMOKAST_LOG_QUIET=0 (the host log is
# silenced by the variable being set at all).
if [ "${LUMOKAST_LOG_QUIET:-1}" = 0 ]; then
  unset LUMOKAST_LOG_QUIET
else
  export LUMOKAST_LOG_QUIET=1
fi
exec "$JAVA" -Djava.library.path="$build/lib" \
  -cp "$build/java/lumokast_java.jar:$build/java/lumokast_demo.jar" \
  cn.lumokast.demo.DemoGame "$@"
