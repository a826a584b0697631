#!/usr/bin/env bash
# Builds the explorer benchmark for x86_64 and runs it under 64-bit Wine on a display and prefix of
# its own, so that it disturbs nobody. Usage: bench/explorer/run.sh [build folder]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${1:-/tmp/kv-bench-explorer-build}
display=${KV_BENCH_DISPLAY:-:47}
prefix=${KV_BENCH_PREFIX:-/tmp/kv-bench-explorer-prefix}

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build" --target explorer_bench

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=" \
       XDG_DATA_HOME=$prefix/xdg-data DISPLAY=$display
Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
cleanup() { /usr/lib/wine/wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1
if [ ! -d "$prefix/drive_c" ]; then
    mkdir -p "$prefix/xdg-data/Trash/files"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
fi
/usr/lib/wine/wine64 "$build/bin/explorer_bench.exe"
