#!/usr/bin/env bash
# The batch benchmark: 20 archives of 10 MB through the program's run (worker thread, pumping window)
# and through the library back to back in one process. Usage: bench/batch/run.sh [build folder]
# KV_BENCH_ROUNDS and KV_BENCH_ARCHIVES change the counts.
exec "$(dirname "$0")/../run_gui_bench.sh" batch_bench "${1:-/tmp/kv-bench-batch-build}"
