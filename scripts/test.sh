#!/usr/bin/env bash
# Runs every test: the normal build, the AddressSanitizer/UndefinedBehavior-
# Sanitizer build, and the threaded tests under ThreadSanitizer.
# Usage: scripts/test.sh [--quick]   (--quick: normal build only)
set -uo pipefail
cd "$(dirname "$0")/.."
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
export LUMOKAST_LOG_QUIET=1
JOBS=$(nproc)

scripts/setup.sh || exit 1

passed=0
failed=0
run_ctest() {  # name, build dir, ctest arguments...
  local name=$1 dir=$2
  shift 2
  echo "=== $name ==="
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
}

run_ctest "tests" build

if [ "${1:-}" != "--quick" ]; then
  echo "=== building with AddressSanitizer + UndefinedBehaviorSanitizer ==="
  cmake -S . -B build-asan -DLUMOKAST_SANITIZE=address -DLUMOKAST_BENCH=OFF -DLUMOKAST_JVM_TESTS=OFF "-DQOR_LEVELS=23" -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
    cmake --build build-asan -j"$JOBS" >/dev/null || { echo "asan build failed"; failed=$((failed + 1)); }
  run_ctest "tests under ASan/UBSan" build-asan -LE no_asan

  echo "=== building with ThreadSanitizer ==="
  cmake -S . -B build-tsan -DLUMOKAST_SANITIZE=thread -DLUMOKAST_BENCH=OFF -DLUMOKAST_JVM_TESTS=OFF "-DQOR_LEVELS=23" -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
    cmake --build build-tsan -j"$JOBS" >/dev/null || { echo "tsan build failed"; failed=$((failed + 1)); }
  run_ctest "threaded tests under TSan" build-tsan -L threaded
fi

echo "Summary: $passed passed, $failed failed"
[ "$failed" = "0" ]
