#!/bin/sh
# Maps drive K: of the test prefix to a scratch folder (for the bare-drive target test), and the
# share \\kestrova-test\share to another (for long share destinations).
# Does nothing (the tests then skip) when there is no prefix or K: is already taken.
folder="$1"
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || exit 0
mkdir -p "$folder"
link="$WINEPREFIX/dosdevices/k:"
if [ -L "$link" ] || [ ! -e "$link" ]; then
    ln -sfn "$folder" "$link"
fi
mkdir -p "$folder-share" "$WINEPREFIX/dosdevices/unc/kestrova-test"
ln -sfn "$folder-share" "$WINEPREFIX/dosdevices/unc/kestrova-test/share"
# N: as a removable drive: Wine's mount manager reads its type from the registry when it starts.
link="$WINEPREFIX/dosdevices/n:"
if [ -L "$link" ] || [ ! -e "$link" ]; then
    mkdir -p "$folder-removable"
    ln -sfn "$folder-removable" "$link"
    loader=/usr/lib/wine/wine
    "$loader" --version >/dev/null 2>&1 || loader=/usr/lib/wine/wine64
    "$loader" reg add 'HKLM\Software\Wine\Drives' /v n: /t REG_SZ /d floppy /f >/dev/null 2>&1
fi
exit 0
