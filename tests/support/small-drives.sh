#!/bin/sh
# Drives for the tests of a destination that cannot be written: T: a 5 MiB volume (it fills up),
# R: a read-only one. Each is a tmpfs under <folder>, mapped through a dosdevices link of the test
# prefix. Needs root; otherwise nothing is mapped and the tests that need the drives skip.
#   small-drives.sh mount <folder> | small-drives.sh unmount <folder>
action=$1
folder=$2
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || exit 0
map() {  # letter mountpoint options
    link="$WINEPREFIX/dosdevices/$1:"
    [ -e "$link" ] && [ ! -L "$link" ] && return 0
    mkdir -p "$2"
    mountpoint -q "$2" || mount -t tmpfs -o "$3" kestrova-test "$2" 2>/dev/null || return 0
    ln -sfn "$2" "$link"
}
unmap() {  # letter mountpoint
    link="$WINEPREFIX/dosdevices/$1:"
    [ -L "$link" ] && [ "$(readlink "$link")" = "$2" ] && rm -f "$link"
    mountpoint -q "$2" && umount "$2"
    rmdir "$2" 2>/dev/null
    return 0
}
case "$action" in
    mount) map t "$folder/full" size=5m; map r "$folder/read-only" size=1m,ro ;;
    unmount) unmap t "$folder/full"; unmap r "$folder/read-only" ;;
esac
exit 0
