#!/bin/sh
# Compiles the glibc locales that the tests run Wine in (Wine takes a process's Windows locale from
# LC_ALL, and needs the glibc locale to name files beyond ASCII) into a folder of the build tree:
# nothing outside it changes. Run the programs with LOCPATH=<folder> LC_ALL=ru_RU.UTF-8 and so on.
# A locale already compiled is left as it is, so reruns take no time.
# Usage: make-locales.sh <folder>
set -eu
dir=${1:?usage: make-locales.sh <folder>}
mkdir -p "$dir"
for locale in ru_RU zh_CN ja_JP de_DE en_US; do
    [ -f "$dir/$locale.UTF-8/LC_CTYPE" ] && continue
    if [ ! -f "/usr/share/i18n/locales/$locale" ]; then
        echo "make-locales: the source of $locale is missing (Debian's 'locales' package)" >&2
        exit 1
    fi
    # localedef answers 1 for warnings about the locale sources themselves; the files are complete.
    rm -rf "$dir/$locale.UTF-8.new"
    localedef -i "$locale" -f UTF-8 "$dir/$locale.UTF-8.new" || [ $? -eq 1 ]
    [ -f "$dir/$locale.UTF-8.new/LC_CTYPE" ] || { echo "make-locales: localedef made no $locale" >&2; exit 1; }
    mv "$dir/$locale.UTF-8.new" "$dir/$locale.UTF-8"
done
