#!/usr/bin/env bash
# The kit as a game receives it: `cmake --install BUILD_DIR` into an empty
# folder lays out every file kit/README.md lists, the libraries of ABI (ELF
# class to match), Java 8 class files whose native methods are exactly those
# the libraries bind (Mp4Muxer: liblumokast's Java_ exports; LumoKastNative:
# liblumokastcore's registration table, with descriptors), keep rules for
# both classes, and libyuv's licence.
# Usage: install_layout_test.sh BUILD_DIR SOURCE_DIR ABI JAVA_HOME LEVELS (18,21,23)
set -euo pipefail
build=$1 src=$2 abi=$3 jdk=$4 levels=$5
kit=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$kit" "$work"' EXIT
cmake --install "$build" --prefix "$kit" >/dev/null

failures=0
check() {  # check "what" condition...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

libs="liblumokast.so liblumokastcore.so"
for n in ${levels//,/ }; do libs="$libs libvencora_$n.so"; done
expected="README.md LICENSE.libyuv android/proguard-rules.pro android/libs/lumokast.jar
  android/java/cn/lumokast/recorder/Mp4Muxer.java android/java/cn/lumokast/recorder/LumoKastNative.java
  unity/Plugins/Android/lumokast.jar unity/Plugins/Android/LumoKastCapture.cs
  unity/Plugins/Android/LumoKastSound.cs unity/Plugins/Android/libs/$abi/libLumoKastUnity.so"
for l in $libs; do expected="$expected android/jniLibs/$abi/$l unity/Plugins/Android/libs/$abi/$l"; done
missing=$(for f in $expected; do [ -s "$kit/$f" ] || echo "$f"; done)
check "every file laid out${missing:+ (missing: $(echo $missing))}" test -z "$missing"
extra=$(cd "$kit" && find . -type f | sed 's|^\./||' | sort | comm -23 - <(printf '%s\n' $expected | sort))
check "nothing else${extra:+ (also: $(echo $extra))}" test -z "$extra"

class=1; [ "$abi" = x86 ] || class=2
wrong=$(for f in "$kit"/android/jniLibs/"$abi"/*.so "$kit"/unity/Plugins/Android/libs/"$abi"/*.so; do
  [ "$(od -An -tu1 -j4 -N1 "$f" | tr -d ' ')" = "$class" ] || basename "$f"; done)
check "libraries of the $abi ABI${wrong:+ (not: $(echo $wrong))}" test -z "$wrong"
check "the Unity folder's jar is the Android one" cmp -s "$kit/android/libs/lumokast.jar" "$kit/unity/Plugins/Android/lumokast.jar"
check "libyuv's licence" cmp -s "$kit/LICENSE.libyuv" "$build/lib/LICENSE.libyuv"

# The natives each class declares: "name descriptor" lines.
(cd "$work" && "$jdk/bin/jar" xf "$kit/android/libs/lumokast.jar")
natives() {
  "$jdk/bin/javap" -p -s -cp "$work" "cn.lumokast.recorder.$1" |
    awk '/ native / { split($0, a, "("); n = split(a[1], w, " "); name = w[n] }
         /descriptor:/ && name != "" { print name, $2; name = "" }' | sort
}
major=$("$jdk/bin/javap" -v -cp "$work" cn.lumokast.recorder.Mp4Muxer | sed -n 's/.*major version: //p')
check "Java 8 class files (major version $major)" test "$major" = 52
muxer_jar=$(natives Mp4Muxer | cut -d' ' -f1)
muxer_lib=$(nm -D --defined-only "$kit/android/jniLibs/$abi/liblumokast.so" |
  sed -n 's/.* Java_cn_lumokast_recorder_Mp4Muxer_\(.*\)$/\1/p' | sort)
check "Mp4Muxer's natives are liblumokast's exports ($(echo $muxer_jar | wc -w))" \
  test "$muxer_jar" = "$muxer_lib" -a -n "$muxer_jar"
core_jar=$(natives LumoKastNative)
core_lib=$(sed -n 's/^ *METHOD("\([^"]*\)", "\([^"]*\)".*/\1 \2/p' "$src/jni/lumokast/jniLumokast.cpp" | sort)
check "LumoKastNative's natives are liblumokastcore's registrations ($(echo "$core_jar" | wc -l))" \
  test "$core_jar" = "$core_lib" -a -n "$core_jar"

for c in Mp4Muxer LumoKastNative; do
  check "keep rule for $c" grep -q "^-keep class cn\.lumokast\.recorder\.$c {" "$kit/android/proguard-rules.pro"
done

if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "PASS"
