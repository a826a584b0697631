#!/usr/bin/env bash
# Saves the README pictures: fills a folder of the Wine prefix with a few real archives, gives the
# program settings worth showing, and has tools/screenshots drive the real windows.
#   screenshots.sh BIN_DIR OUTPUT_DIR [DPI]
# DPI (96 when not given) is the screen's scale for the programs: LogPixels of the prefix, for
# Windows and for Wine's fonts, set before they start; the window's placement grows with it.
# Run through `scripts/kestrova.sh screenshots`, which provides the display, the prefix
# (WINEPREFIX) and the loader (WINE_LOADER) for the programs in BIN_DIR.
set -euo pipefail

bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
dpi=${3:-96}
: "${WINEPREFIX:?}" "${DISPLAY:?}" "${WINE_LOADER:?}"
scaled() { echo $(($1 * dpi / 96)); }

user_dir=$(ls -d "$WINEPREFIX/drive_c/users/"* | grep -v '/Public$' | head -n 1)
user=$(basename "$user_dir")
demo="$user_dir/Documents/Archives"
rm -rf "$demo"
mkdir -p "$demo/Backups" "$demo/Old Projects"

# Archives with a mix of text (which packs well) and noise (which does not).
python3 - "$demo" <<'EOF'
import os, random, sys, zipfile
root = sys.argv[1]
rng = random.Random(8)
def text(lines):
    words = "archive folder extract member deflate stored header central record index".split()
    return "\n".join(" ".join(rng.choice(words) for _ in range(12)) for _ in range(lines)).encode()
def noise(size):
    return bytes(rng.getrandbits(8) for _ in range(size))
archives = {
    "project-sources.zip": [("README.txt", text(40)), ("src/main.cpp", text(300)), ("src/archive.cpp", text(220)),
                            ("src/archive.h", text(30)), ("Makefile", text(12)), ("docs/manual.html", text(150)),
                            ("assets/logo.bmp", noise(3000) + bytes(9000)), ("assets/icon.ico", noise(1500))],
    "holiday-photos.zip": [(f"IMG_{n:04}.jpg", noise(20000 + 997 * n)) for n in range(1, 7)],
    "manuals-2024.zip": [("Setup Guide.pdf", noise(4000) + text(200)), ("Quick Start.txt", text(60))],
    "fonts.zip": [("Sans.ttf", noise(9000)), ("Serif.ttf", noise(11000)), ("LICENSE.txt", text(25))],
    "Backups/backup-2024-01.zip": [("data/accounts.csv", text(400)), ("data/notes.txt", text(90))],
    "Backups/backup-2024-02.zip": [("data/accounts.csv", text(420)), ("data/notes.txt", text(95))],
    "Old Projects/prototype.zip": [("proto/main.c", text(120)), ("proto/build.bat", text(5))],
}
# One big archive, so that the picture of a run catches it going on: 2 GiB of zeros stream out of
# a few MiB.
with zipfile.ZipFile(os.path.join(root, "Backups/disk-image-2024.zip"), "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
    image = zipfile.ZipInfo("disk-image.img", (2024, 3, 14, 9, 30, 0))
    image.compress_type = zipfile.ZIP_DEFLATED
    with archive.open(image, "w", force_zip64=True) as member:
        block = bytes(1 << 24)
        for _ in range(128):
            member.write(block)
for name, members in archives.items():
    with zipfile.ZipFile(os.path.join(root, name), "w", zipfile.ZIP_DEFLATED) as archive:
        for member, data in members:
            archive.writestr(zipfile.ZipInfo(member, (2024, 3, 14, 9, 30, 0)), data, zipfile.ZIP_DEFLATED)
EOF

# Downloads of the other kinds, made by the tools that write them, so that the explorer shows a mix
# (a 7z split into volumes shows by its first).
(
    cd "$demo/Old Projects"
    7z a -m0=LZMA2 ../camera-raw.7z prototype.zip >/dev/null
    bsdtar -czf ../website-backup.tar.gz prototype.zip
    bsdtar --format iso9660 -cf ../install-media.iso prototype.zip
    head -c 300000 /dev/urandom | 7z a -v100k -siscene.raw ../video-project.7z >/dev/null
)
(cd "$demo/Backups" && bsdtar --zstd -cf ../server-logs.tar.zst backup-2024-01.zip && xz -c backup-2024-02.zip >../notes.xz)


reg() {
    "$WINE_LOADER" reg add "HKCU\\Software\\Kestrova\\$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null
}
reg Folders Last "C:\\users\\$user\\Documents\\Archives\\"
reg Placement Left 30
reg Placement Top 30
reg Placement Width $((30 + $(scaled 700)))
reg Placement Tall $((30 + $(scaled 610)))
reg Columns "Explore Name" 280
reg Columns "Explore Size" 90
reg Columns "Explore Created" 140
reg Columns "List Name" 170
reg Columns "List Location" 420
reg Extract "Title Extract" 1
reg Extract "Message Box Alert" 1
reg Extract "Ask For Folder" 0
reg Shortcuts "Desktop Shortcut" 0
reg Shortcuts "QuickLaunch Shortcut" 0
masks=("*.tmp" "Thumbs.db" "*.bak" "desktop.ini")
for i in "${!masks[@]}"; do reg "Not To Extract" "$i" "${masks[$i]}"; done

for key in 'HKCU\Control Panel\Desktop' 'HKCU\Software\Wine\Fonts'; do
    "$WINE_LOADER" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
done

program="Z:${bin//\//\\}\\kestrova.exe"
"$WINE_LOADER" "$bin/screenshot_driver.exe" "$program" "$out" \
    Backups project-sources.zip manuals-2024.zip -- project-sources.zip
