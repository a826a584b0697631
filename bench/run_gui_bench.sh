#!/usr/bin/env bash
# Builds one of the window benchmarks and runs it under Wine on a display and prefix of its own, so
# that it disturbs nobody. Its output goes to a pipe, never to /dev/null.
# Usage: bench/run_gui_bench.sh <target> [build folder]   (e.g. explorer_bench, queue_bench)
# A new build folder is an x86_64 build run by 64-bit Wine (it runs on machines that cannot execute
# 32-bit code); an existing i686 build folder (such as build/) is run by 32-bit Wine.
set -euo pipefail
target=$1
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${2:-/tmp/kv-bench-$target-build}
# A display number nobody uses, unless one is given.
display=${KV_BENCH_DISPLAY:-}
if [ -z "$display" ]; then
    n=47
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    display=:$n
fi
prefix=${KV_BENCH_PREFIX:-/tmp/kv-bench-$target-prefix}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target "$target"
loader=/usr/lib/wine/wine64
if grep -q '^CMAKE_TOOLCHAIN_FILE.*mingw-i686' "$build/CMakeCache.txt"; then
    loader=/usr/lib/wine/wine
    export WINEARCH=win32
    prefix=$prefix-32
fi

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=" \
       XDG_DATA_HOME=$prefix/xdg-data DISPLAY=$display
Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
cleanup() { /usr/lib/wine/wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1
if [ ! -d "$prefix/drive_c" ]; then
    mkdir -p "$prefix/xdg-data/Trash/files"
    "$loader" wineboot -i >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
fi
"$loader" "$build/bin/$target.exe" | cat
