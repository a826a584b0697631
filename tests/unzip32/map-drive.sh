#!/bin/sh
# Maps drive K: of the test prefix to a scratch folder (for the bare-drive target test), and the
# share \\kestrova-test\share to another (for long share destinations). The removable drive N:
# is set up by the test command before Wine's services start (scripts/kestrova.sh).
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
exit 0
