#!/usr/bin/env bash
# Builds the ZIP core natively with clang, libFuzzer, AddressSanitizer and UBSan, and fuzzes the
# read-and-extract path. Usage: fuzz/run_fuzz.sh [seconds (default 600)] [work folder]
# Seeds: the archives of ../shared/corpus when present. New inputs collect in <work>/corpus,
# crashes in <work>/artifacts.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_TO_RUN=${1:-600}
WORK=${2:-/tmp/kv-fuzz}
mkdir -p "$WORK/corpus" "$WORK/artifacts" "$WORK/obj"
FLAGS=(-std=c++17 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I"$ROOT")
objs=()
for src in "$ROOT"/unzip32/core/*.cpp; do
    obj="$WORK/obj/$(basename "$src" .cpp).o"
    clang++ "${FLAGS[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" -c "$src" -o "$obj"
    objs+=("$obj")
done
clang++ "${FLAGS[@]}" "$ROOT/fuzz/FuzzExtract.cpp" "${objs[@]}" -lz -o "$WORK/fuzz_extract"
seeds=()
if [ -d "$ROOT/../shared/corpus" ]; then
    mkdir -p "$WORK/seeds"
    i=0
    while IFS= read -r -d '' f; do
        i=$((i + 1)); cp "$f" "$WORK/seeds/$i-$(basename "$f" | tr -c 'A-Za-z0-9._-' _)"
    done < <(find "$ROOT/../shared/corpus" -type f -size -1024k ! -name '*.md' ! -name '*.json' -print0)
    seeds=("$WORK/seeds")
fi
jobs=${FUZZ_JOBS:-1}
cd "$WORK"
exec "$WORK/fuzz_extract" -max_total_time="$SECONDS_TO_RUN" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
     -artifact_prefix="$WORK/artifacts/" -jobs="$jobs" -workers="$jobs" -print_final_stats=1 \
     "$WORK/corpus" "${seeds[@]}"
