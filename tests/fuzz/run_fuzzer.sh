#!/bin/sh
# Runs a fuzz target for a bounded time on a fresh copy of its seeds:
#   run_fuzzer.sh TARGET SEED_DIR WORK_DIR SECONDS
# Fails (libFuzzer's exit status) on a crash, leak, timeout or memory blow-up;
# the input that did it is left in WORK_DIR/artifacts.
set -e
target=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$seeds"/* "$work/corpus/"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus"
