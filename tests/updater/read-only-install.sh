#!/bin/sh
# Drive U: of the test prefix: an installation the user cannot write, as Program Files is for a user
# without administrator rights. A read-only tmpfs under <folder> holds a copy of <kvupdate.exe> and
# an installed kestrova.exe ("MZ" and a line of text); it is mapped through a dosdevices link. Needs
# root (which ignores permissions, hence the read-only mount); otherwise nothing is mapped and the
# tests that need the drive skip.
#   read-only-install.sh mount <folder> <kvupdate.exe> | read-only-install.sh unmount <folder>
action=$1
folder=$2
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || exit 0
link="$WINEPREFIX/dosdevices/u:"
case "$action" in
    mount)
        [ -e "$link" ] && [ ! -L "$link" ] && exit 0
        mkdir -p "$folder"
        mountpoint -q "$folder" && umount "$folder"
        mount -t tmpfs -o size=16m kestrova-test "$folder" 2>/dev/null || exit 0
        if cp "$3" "$folder/kvupdate.exe" && printf 'MZ the installed program\r\n' >"$folder/kestrova.exe" &&
            mount -o remount,ro "$folder"; then
            ln -sfn "$folder" "$link"
        else
            umount "$folder"
        fi
        ;;
    unmount)
        [ -L "$link" ] && [ "$(readlink "$link")" = "$folder" ] && rm -f "$link"
        mountpoint -q "$folder" && umount "$folder"
        rmdir "$folder" 2>/dev/null
        ;;
esac
exit 0
