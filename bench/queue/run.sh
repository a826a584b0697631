#!/usr/bin/env bash
# The extraction list's queue, Remove All and drag benchmark. Usage: bench/queue/run.sh [build folder]
# KV_BENCH_SEARCHED, KV_BENCH_DRAGGED and KV_BENCH_ROUNDS change the counts.
exec "$(dirname "$0")/../run_gui_bench.sh" queue_bench "${1:-/tmp/kv-bench-queue-build}"
