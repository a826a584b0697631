#!/usr/bin/env bash
# Checks the shipped files: PE files of the build's kind that import only system libraries (no mingw
# runtime DLLs beside them).
#   check_deliverables.sh DIR [DIR_X64]
# DIR holds the 32-bit build (KESTROVA_DELIVERABLES overrides it); DIR_X64, when given, the 64-bit
# build, checked the same way.
set -u
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|bcrypt|msvcrt|urlmon|uuid|version|ws2_32|winmm|imm32)\.dll$'
status=0
checked=0

check_folder() {  # DIR OBJDUMP FORMAT KIND
    local dir=$1 objdump=$2 expected=$3 kind=$4 f path format dll lower imports
    for f in kestrova.exe kvupdate.exe UNZIP32.DLL; do
        path="$dir/$f"
        [ -f "$path" ] || { [ "$f" = kestrova.exe ] && { echo "missing: $path"; status=1; }; continue; }
        checked=$((checked + 1))
        format=$("$objdump" -f "$path" | sed -n 's/.*file format //p')
        if [ "$format" != "$expected" ]; then echo "$path: not a $kind PE file ($format)"; status=1; fi
        while read -r dll; do
            lower=$(echo "$dll" | tr 'A-Z' 'a-z')
            if ! echo "$lower" | grep -Eq "$allowed"; then echo "$path imports $dll"; status=1; fi
        done < <("$objdump" -p "$path" | sed -n 's/^\s*DLL Name: //p')
        # The library is loaded afresh for every archive: a slot it takes and never frees is lost for good.
        if [ "$f" = UNZIP32.DLL ]; then
            imports=$("$objdump" -p "$path")
            if echo "$imports" | grep -qw TlsAlloc && ! echo "$imports" | grep -qw TlsFree; then
                echo "$path takes thread-local-storage slots and never frees them"; status=1
            fi
        fi
    done
}

check_folder "${KESTROVA_DELIVERABLES:-$1}" i686-w64-mingw32-objdump pei-i386 32-bit
if [ $# -ge 2 ]; then
    check_folder "$2" x86_64-w64-mingw32-objdump pei-x86-64 64-bit
fi
echo "$checked files checked"
exit $status
