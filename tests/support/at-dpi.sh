#!/bin/sh
# Runs one test program with the screen of the test prefix at DPI dots per inch: LogPixels for
# Windows (HKCU\Control Panel\Desktop) and for Wine's fonts (HKCU\Software\Wine\Fonts), set before
# the program starts and put back to what they were when it ends. The program learns the scale from
# KESTROVA_TEST_DPI. CTest runs these alone (RUN_SERIAL), so no other program starts meanwhile.
#   at-dpi.sh DPI EMULATOR PROGRAM [arguments...]
dpi=$1
shift
: "${WINEPREFIX:?}"
# The 64-bit loader where the prefix and the machine take it (some machines run no 32-bit code),
# otherwise the 32-bit one.
loader=/usr/lib/wine/wine64
"$loader" reg query 'HKCU\Control Panel' >/dev/null 2>&1 || loader=wine
wine_reg() { "$loader" reg "$@" 2>/dev/null | tr -d '\r'; }
saved() {  # key: the REG_DWORD value LogPixels as a number, or nothing
    wine_reg query "$1" /v LogPixels | awk '$1 == "LogPixels" { print $3 }'
}
set_or_restore() {  # key value-or-empty
    if [ -n "$2" ]; then
        wine_reg add "$1" /v LogPixels /t REG_DWORD /d "$(($2))" /f >/dev/null
    else
        wine_reg delete "$1" /v LogPixels /f >/dev/null
    fi
}
desktop='HKCU\Control Panel\Desktop'
fonts='HKCU\Software\Wine\Fonts'
old_desktop=$(saved "$desktop")
old_fonts=$(saved "$fonts")
trap 'set_or_restore "$desktop" "$old_desktop"; set_or_restore "$fonts" "$old_fonts"' EXIT
set_or_restore "$desktop" "$dpi"
set_or_restore "$fonts" "$dpi"
if [ "$(saved "$desktop")" != "$(printf '0x%x' "$dpi")" ]; then
    echo "at-dpi: LogPixels could not be set to $dpi" >&2
    exit 1
fi
KESTROVA_TEST_DPI=$dpi "$@"
