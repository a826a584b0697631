#!/usr/bin/env bash
# Makes the installer and the portable zip of the three program files:
#   package.sh BIN_DIR OUT_DIR [x86|x64]
# writes OUT_DIR/Kestrova-<version>-setup.exe (NSIS, installer/kestrova.nsi) and
# OUT_DIR/Kestrova-<version>-portable.zip (the three files at the top level). The version is the
# program's own. x86 (the default) is the shipped flavour; x64 packs a 64-bit build for machines that
# can only run 64-bit programs.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FILES=(kestrova.exe UNZIP32.DLL kvupdate.exe)

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 BIN_DIR OUT_DIR [x86|x64]" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
out=$2
flavour=${3:-x86}
case "$flavour" in
    x86) flavour_define=() ;;
    x64) flavour_define=(-DX64) ;;
    *) echo "package: unknown flavour '$flavour' (x86 or x64)" >&2; exit 2 ;;
esac

version=$(sed -n 's/^const char kProgramVersion\[\] = "\([^"]*\)";/\1/p' "$ROOT/settings/ShellFolders.cpp")
if [ -z "$version" ]; then
    echo "package: the program's version text was not found in settings/ShellFolders.cpp" >&2
    exit 1
fi
for f in "${FILES[@]}"; do
    [ -f "$bin/$f" ] || { echo "package: $bin/$f is missing (build first)" >&2; exit 1; }
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
setup="$out/Kestrova-$version-setup.exe"
portable="$out/Kestrova-$version-portable.zip"

makensis -V2 -NOCD "${flavour_define[@]}" "-DVERSION=$version" "-DBINDIR=$bin" "-DOUTFILE=$setup" \
         "$ROOT/installer/kestrova.nsi"

rm -f "$portable"
python3 - "$portable" "$bin" "${FILES[@]}" <<'EOF'
import os, sys, zipfile
target, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(target + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in names:
        archive.write(os.path.join(folder, name), arcname=name)
os.replace(target + ".part", target)
EOF

echo "$setup"
echo "$portable"
