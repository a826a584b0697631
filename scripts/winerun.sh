#!/usr/bin/env bash
# CTest's emulator for the cross-built test programs: runs one Windows program under Wine in the
# prefix and on the display that scripts/kestrova.sh prepared. 64-bit builds need the 64-bit loader
# (`wine` would pick the 32-bit one when it is installed).
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
    echo "winerun: WINEPREFIX and DISPLAY must be set (run the tests through scripts/kestrova.sh test)" >&2
    exit 125
fi
export WINEDEBUG=${WINEDEBUG:--all}
case "$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$1" | tr -d ' ') + 4 ))" -N2 "$1" 2>/dev/null | tr -d ' ')" in
    6486) exec /usr/lib/wine/wine64 "$@" ;;
    *) exec wine "$@" ;;
esac
