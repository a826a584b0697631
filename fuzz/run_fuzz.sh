#!/usr/bin/env bash
# The fuzzer for a shorter run: fuzz/run.sh with 600 seconds by default and the given work folder.
# Usage: fuzz/run_fuzz.sh [seconds (default 600)] [work folder (default /tmp/kv-fuzz)]
# New inputs collect in <work>/corpus, crashes in <work>/crashes.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FUZZ_WORK=${2:-/tmp/kv-fuzz} exec bash "$ROOT/fuzz/run.sh" "${1:-600}"
