#!/usr/bin/env bash
# The explorer pane's listing and search benchmark. Usage: bench/explorer/run.sh [build folder]
exec "$(dirname "$0")/../run_gui_bench.sh" explorer_bench "${1:-/tmp/kv-bench-explorer-build}"
