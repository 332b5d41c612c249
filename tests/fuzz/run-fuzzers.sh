#!/usr/bin/env bash
# Runs every fuzz target of BUILD_DIR for SECONDS each, one after the other,
# on a fresh copy of its seed corpus (the committed corpus is never written).
# Fails on the first target that crashes, breaks a property or hangs; the
# input that did it lands in BUILD_DIR/fuzz-artifacts/<target>/.
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR SECONDS}
seconds=${2:?usage: run-fuzzers.sh BUILD_DIR SECONDS}
corpus_root="$(cd "$(dirname "$0")" && pwd)/corpus"

# Nothing here loads FFmpeg, so leaks are the targets' own and count.
export ASAN_OPTIONS=detect_leaks=1:handle_segv=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

for seeds in "$corpus_root"/*/; do
  name=$(basename "$seeds")
  work="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name/"
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts"
  cp "$seeds"/* "$work"/
  echo "[fuzz] $name: ${seconds} s"
  "$build/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$work" 2>"$build/fuzz-$name.log" ||
    { tail -n 60 "$build/fuzz-$name.log"; echo "[fuzz] $name FAILED; input in $artifacts"; exit 1; }
  grep -E '^stat::number_of_executed_units|^stat::average_exec_per_sec' "$build/fuzz-$name.log" |
    sed "s/^/[fuzz] $name /"
done
