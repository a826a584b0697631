#!/usr/bin/env bash
# Builds the ZIP core's fuzzer natively with clang and runs it.
#   fuzz/run.sh [seconds]      (default 1800; findings go to $FUZZ_WORK/crashes)
# The seed corpus is every archive of ../shared/corpus (found from the repository root).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-1800}"
work="${FUZZ_WORK:-/tmp/kestrova-fuzz}"
build="$work/build"
mkdir -p "$work/corpus" "$work/crashes"
cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" >/dev/null
seeds="$root/../shared/corpus"
if [ -d "$seeds" ] && [ -z "$(ls -A "$work/corpus")" ]; then
    # Seeds up to 1 MiB (bigger ones slow every iteration down).
    find "$seeds" -type f ! -name '*.md' ! -name '*.json' -size -1024k -print0 |
        while IFS= read -r -d '' f; do cp "$f" "$work/corpus/$(cksum <"$f" | tr ' ' _)"; done
fi
jobs="${FUZZ_JOBS:-1}"
cd "$work"  # libFuzzer writes its job logs into the current folder
exec "$build/fuzz_extract" "$work/corpus" -artifact_prefix="$work/crashes/" -max_total_time="$seconds" \
    -max_len=1048576 -rss_limit_mb=2048 -timeout=20 -jobs="$jobs" -workers="$jobs" -print_final_stats=1
