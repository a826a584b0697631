#!/bin/sh
# Maps drive K: of the test prefix to a scratch folder (for the bare-drive target test).
# Does nothing (the test then skips) when there is no prefix or K: is already taken.
folder="$1"
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || exit 0
mkdir -p "$folder"
link="$WINEPREFIX/dosdevices/k:"
if [ -L "$link" ] || [ ! -e "$link" ]; then
    ln -sfn "$folder" "$link"
fi
exit 0
