#!/usr/bin/env bash
# Runs every test: the 64-bit host build and the 32-bit x86 build the kit
# ships in (GoogleTest, the real JVMs, Mesa, recordings judged by ffprobe/
# ffmpeg), the AddressSanitizer/UndefinedBehaviorSanitizer build, the
# threaded tests under ThreadSanitizer, and the writer's and driver's tests
# under UndefinedBehaviorSanitizer in the 32-bit ABI, the product libraries
# compiled by clang with its lock analysis (-Wthread-safety) as errors, and
# the shape of the product code (scripts/check_shape.sh). Prints the time of
# each stage at the end.
# The 32-bit programs run natively where the kernel executes i386 programs,
# else through qemu-i386 (scripts/x86_exec.sh; LUMOKAST_X86_EMULATE=1 forces
# that path). Emulated, the 32-bit stages take the set that stays meaningful
# there (see x86_tests below); the stage's name says which.
# Usage: scripts/test.sh [--quick]   (--quick: the two normal builds only)
set -uo pipefail
cd "$(dirname "$0")/.."
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
export LUMOKAST_LOG_QUIET=1
JOBS=$(nproc)

stages=()
stage_start=0
begin_stage() { echo "=== $1 ==="; stage_name=$1; stage_start=$(date +%s); }
end_stage() { stages+=("$(printf '%5d s  %s' $(($(date +%s) - stage_start)) "$stage_name")"); }

begin_stage "set-up, 64-bit and 32-bit builds"
. scripts/x86_exec.sh
x86_exec_prepare || exit 1
trap x86_exec_release EXIT
scripts/setup.sh --x86 || exit 1
end_stage

passed=0
failed=0
run_ctest() {  # name, build dir, ctest arguments...
  local name=$1 dir=$2
  shift 2
  begin_stage "$name"
  local log
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure -j"$JOBS" "$@") 2>&1 | tee "$log"
  local total fails
  total=$(grep -Eo 'tests failed out of [0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -1)
  fails=$(grep -Eo '[0-9]+ tests failed out of' "$log" | grep -Eo '^[0-9]+' | tail -1)
  total=${total:-0}
  fails=${fails:-0}
  if [ "$total" = "0" ] && ! grep -q "tests passed" "$log"; then fails=1; fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  rm -f "$log"
  end_stage
}

build() {  # name, build dir, cmake arguments... (then `--` and build targets)
  local name=$1 dir=$2
  shift 2
  local args=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  for t in "$@"; do targets+=(--target "$t"); done
  begin_stage "building $name"
  cmake -S . -B "$dir" "${args[@]}" >/dev/null &&
    cmake --build "$dir" -j"$JOBS" "${targets[@]}" >/dev/null ||
    { echo "$name build failed"; failed=$((failed + 1)); }
  end_stage
}

shape_check() {  # name, check_shape.sh option
  begin_stage "$1"
  scripts/check_shape.sh "$2" || failed=$((failed + 1))
  end_stage
}

# Under emulation the i386 JVM is slow and fragile (its compilers crash under
# qemu-i386) and nothing keeps real time (the encoders cannot hand out the
# end of their streams within the stop's limit): the GoogleTest set but the
# tests that judge real-time behaviour (the encoder fault matrix and the
# slow-disk recording), the export and dependency checks, and the JVM tests
# that need no real time, in the JVM's interpreter, one at a time: the
# natives bound and refused in the i386 JVM (the spy recorder), the levels'
# libraries loaded, and a recording killed during stop and recovered, checked
# by ffprobe. A test that fails there is run once more (a busy emulator can
# starve an encoder past the stall limit).
# Natively, every test.
X86_EMULATED_JVM_TESTS='^(jni\.(recording|refusals|level13|level22|blacklisted|accepted)|disk\.killed_in_stop)$'
X86_EMULATED_RETRY=(--repeat until-pass:2)
X86_EMULATED_REAL_TIME='^RecorderSlowDisk\.'
x86_tests() {
  if [ "$X86_EXEC_MODE" = native ]; then
    run_ctest "tests, 32-bit x86 (native: every test)" build-x86
  else
    run_ctest "tests, 32-bit x86 (emulated by qemu-i386: all but the JVM's and the real-time ones)" \
      build-x86 -LE '^(jvm|faults)$' -E "$X86_EMULATED_REAL_TIME" "${X86_EMULATED_RETRY[@]}"
    JAVA_TOOL_OPTIONS=-Xint run_ctest \
      "tests, 32-bit x86 (emulated by qemu-i386: the JVM tests that need no real time)" \
      build-x86 -L jvm -R "$X86_EMULATED_JVM_TESTS" -j1 "${X86_EMULATED_RETRY[@]}"
  fi
}

run_ctest "tests, 64-bit" build
x86_tests

if [ "${1:-}" != "--quick" ]; then
  build "with AddressSanitizer + UndefinedBehaviorSanitizer" build-asan \
    -DLUMOKAST_SANITIZE=address -DLUMOKAST_BENCH=OFF -DLUMOKAST_JVM_TESTS=OFF \
    "-DQOR_LEVELS=23" -DCMAKE_BUILD_TYPE=Debug
  run_ctest "tests under ASan/UBSan" build-asan -LE no_asan

  build "with ThreadSanitizer" build-tsan \
    -DLUMOKAST_SANITIZE=thread -DLUMOKAST_BENCH=OFF -DLUMOKAST_JVM_TESTS=OFF \
    "-DQOR_LEVELS=23" -DCMAKE_BUILD_TYPE=Debug
  run_ctest "threaded tests under TSan" build-tsan -L threaded

  # Undefined behaviour that exists only in the 32-bit ABI (32-bit time_t,
  # long and size_t) is invisible to the 64-bit sanitizer builds.
  build "32-bit x86 with UndefinedBehaviorSanitizer" build-x86-ubsan \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86.cmake -DLUMOKAST_SANITIZE=undefined \
    -DLUMOKAST_BENCH=OFF -DLUMOKAST_JVM_TESTS=OFF "-DQOR_LEVELS=23" -DCMAKE_BUILD_TYPE=Debug \
    -- writer_tests writer_unit_tests writer_disk_tests driver_tests_23
  ubsan_retry=()
  [ "$X86_EXEC_MODE" = native ] || ubsan_retry=("${X86_EMULATED_RETRY[@]}")
  run_ctest "writer and driver tests, 32-bit x86 under UBSan ($X86_EXEC_MODE)" build-x86-ubsan \
    -R '^(L23\.|([A-Za-z]+/)?(Writer|SampleTable|ByteSink|BoxWriter|AvcRecord))' -E 'WriterLargeFile' \
    "${ubsan_retry[@]}"

  # The shipped libraries only (target qor_products), no tests: clang adds
  # -Wthread-safety to the product's -Wextra -Wshadow -Werror.
  build "thread-safety compile (clang, product libraries)" build-clang \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLUMOKAST_WERROR=ON \
    -DBUILD_TESTING=OFF -DLUMOKAST_BENCH=OFF -DLUMOKAST_JVM_TESTS=OFF \
    -- qor_products

  # libFuzzer under clang with ASan and UBSan: the journal parser and the
  # recovery of a file with its journal (tests/fuzz), from the committed seeds.
  build "fuzz targets (clang, libFuzzer)" build-fuzz \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLUMOKAST_FUZZ=ON \
    -DLUMOKAST_BENCH=OFF -DLUMOKAST_JVM_TESTS=OFF "-DQOR_LEVELS=23" \
    -- fuzz_journal fuzz_recovery
  run_ctest "fuzzing: journal parser and recovery, 1 minute each" build-fuzz -L fuzz

  shape_check "shape: formatted as .clang-format says" --format
  shape_check "shape: no function longer than 80 lines" --length
fi

echo
echo "Time of each stage:"
printf '  %s\n' "${stages[@]}"
echo "Summary: $passed passed, $failed failed"
[ "$failed" = "0" ]
