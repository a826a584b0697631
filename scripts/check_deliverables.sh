#!/usr/bin/env bash
# Checks the shipped files: 32-bit PE files that import only system libraries (no mingw runtime DLLs
# beside them). Takes the folder of the 32-bit build; KESTROVA_DELIVERABLES overrides it.
set -u
dir=${KESTROVA_DELIVERABLES:-$1}
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|bcrypt|msvcrt|urlmon|uuid|version|ws2_32|winmm|imm32)\.dll$'
status=0
checked=0
for f in kestrova.exe kvupdate.exe UNZIP32.DLL; do
    path="$dir/$f"
    [ -f "$path" ] || { [ "$f" = kestrova.exe ] && { echo "missing: $path"; status=1; }; continue; }
    checked=$((checked + 1))
    format=$(i686-w64-mingw32-objdump -f "$path" | sed -n 's/.*file format //p')
    if [ "$format" != pei-i386 ]; then echo "$f: not a 32-bit PE file ($format)"; status=1; fi
    while read -r dll; do
        lower=$(echo "$dll" | tr 'A-Z' 'a-z')
        if ! echo "$lower" | grep -Eq "$allowed"; then echo "$f imports $dll"; status=1; fi
    done < <(i686-w64-mingw32-objdump -p "$path" | sed -n 's/^\s*DLL Name: //p')
    # The library is loaded afresh for every archive: a slot it takes and never frees is lost for good.
    if [ "$f" = UNZIP32.DLL ]; then
        imports=$(i686-w64-mingw32-objdump -p "$path")
        if echo "$imports" | grep -qw TlsAlloc && ! echo "$imports" | grep -qw TlsFree; then
            echo "$f takes thread-local-storage slots and never frees them"; status=1
        fi
    fi
done
echo "$checked files checked"
exit $status
