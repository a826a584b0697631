#!/usr/bin/env bash
# Checks that none of the library's own objects needs the C++ runtime's thread support (see
# unzip32/dll/README.md): no thread_local, no guarded function-local statics, no standard mutexes,
# threads or condition variables. The objects are those the link's map names: the library's own
# and the members it took from the project's static libraries in lib/, all but RuntimeThreads.cpp,
# which defines the POSIX functions the runtime calls.
# Usage: check_dll_objects.sh NM MAP BUILD (the map's paths are relative to BUILD).
set -u
nm=$1
map=$2
build=$3
forbidden='pthread_|__cxa_guard_|__cxa_thread_atexit|__emutls_|ZNSt6thread|ZNSt18condition_variable|__once_proxy'
cd "$build" || exit 1
[ -f "$map" ] || { echo "$map: no link map"; exit 1; }

# Objects on the command line, and archive members the link took ("lib/libX.a(Y.obj)").
objects=$(grep -Eo '[^ (]*CMakeFiles/[^ ()]*\.obj' "$map" | sort -u)
members=$(grep -Eo '^lib/lib[^ (]*\.a\([^)]*\)' "$map" | sort -u)
checked=0
# Lines "file: symbol" of the symbols each object needs from elsewhere.
needs() {  # nm -A output
    awk '$(NF-1) == "U" { sub(/:[^:]*$/, "", $1); print $1 ": " $NF }'
}
{
    for object in $objects; do
        case "$object" in *RuntimeThreads.cpp.obj) continue ;; esac
        "$nm" -A "$object" | needs
        checked=$((checked + 1))
    done
    for archive in $(echo "$members" | sed 's/(.*//' | sort -u); do
        # nm names an archive's member "archive:member" where the map writes "archive(member)".
        "$nm" -A "$archive" 2>/dev/null | needs | sed 's/^\([^:]*\):\([^:]*\):/\1(\2):/' |
            grep -F -f <(echo "$members" | sed 's/$/:/')
    done
} >"$map.needs"
[ "$checked" -gt 0 ] || { echo "$map names no objects of the library"; exit 1; }
bad=$(grep -E ": _*($forbidden)" "$map.needs" | sort -u)
[ -z "$bad" ] && exit 0
echo "UNZIP32.DLL: objects that need the C++ runtime's thread support (unzip32/dll/README.md):"
echo "$bad"
exit 1
