#!/usr/bin/env bash
# Makes the installer and the portable zip of the three program files:
#   package.sh BIN_DIR OUT_DIR [x86|x64] [BIN_DIR_X64]
# writes OUT_DIR/Kestrova-<version>-setup.exe (NSIS, installer/kestrova.nsi) and
# OUT_DIR/Kestrova-<version>-portable.zip (the three files at the top level). The version is the
# program's own. x86 (the default) packs the 32-bit build; x64 packs a 64-bit build alone, with a
# 64-bit installer, for machines that can only run 64-bit programs.
# With BIN_DIR_X64 (x86 only) the installer carries both builds and installs the 64-bit one on
# 64-bit Windows, and OUT_DIR/Kestrova-<version>-portable-x64.zip holds the 64-bit files: that is
# what is shipped.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FILES=(kestrova.exe UNZIP32.DLL kvupdate.exe)

if [ $# -lt 2 ] || [ $# -gt 4 ]; then
    echo "usage: $0 BIN_DIR OUT_DIR [x86|x64] [BIN_DIR_X64]" >&2
    exit 2
fi
bin=$(cd "$1" && pwd)
out=$2
flavour=${3:-x86}
bin64=
if [ $# -eq 4 ]; then
    [ "$flavour" = x86 ] || { echo "package: BIN_DIR_X64 goes with the x86 flavour" >&2; exit 2; }
    bin64=$(cd "$4" && pwd)
fi
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
for folder in "$bin" ${bin64:+"$bin64"}; do
    for f in "${FILES[@]}"; do
        [ -f "$folder/$f" ] || { echo "package: $folder/$f is missing (build first)" >&2; exit 1; }
    done
done
if [ -n "$bin64" ]; then flavour_define+=("-DBINDIR64=$bin64"); fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
setup="$out/Kestrova-$version-setup.exe"
portable="$out/Kestrova-$version-portable.zip"

makensis -V2 -NOCD "${flavour_define[@]}" "-DVERSION=$version" "-DBINDIR=$bin" "-DOUTFILE=$setup" \
         "$ROOT/installer/kestrova.nsi"

# The three files of FOLDER at the top level of the zip TARGET, which appears only when complete.
portable_zip() {  # TARGET FOLDER
    rm -f "$1"
    python3 - "$1" "$2" "${FILES[@]}" <<'EOF'
import os, sys, zipfile
target, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(target + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in names:
        archive.write(os.path.join(folder, name), arcname=name)
os.replace(target + ".part", target)
EOF
}

portable_zip "$portable" "$bin"
echo "$setup"
echo "$portable"
if [ -n "$bin64" ]; then
    portable_zip "$out/Kestrova-$version-portable-x64.zip" "$bin64"
    echo "$out/Kestrova-$version-portable-x64.zip"
fi
