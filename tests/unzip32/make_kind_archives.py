#!/usr/bin/env python3
"""Makes archives of the kinds the library reads through libarchive, with the tools that write them,
plus damaged copies; the native core tests and the DLL tests extract them and compare with the
originals.

Usage: make_kind_archives.py <output folder> <libarchive source folder>

Writes into the folder:
  files/                the original tree: text, random bytes, an empty file, a UTF-8 name, a path
                        of more than 100 bytes, and sparse.bin (holes around two runs of data)
  tar-*.tar*            bsdtar's ustar, pax (also -z, -j, -J, --zstd), GNU tar's gnu format with
                        sparse.bin stored sparse; cpio (odc, newc) and iso9660 (Joliet, Rock Ridge)
  notes.txt.<suffix>    single files by gzip (renamed.gz stores the name notes.txt), bzip2, xz,
                        zstd and lzma
  cab.cab               gcab's CAB (when gcab is installed)
  rar/                  RAR 4 and 5 samples of libarchive's own tests (uudecoded), and what bsdtar
                        extracts from each (<name>.out/; Debian's 7-Zip has no RAR decoder); the
                        volume sets (partN.rar) are checked by their CRCs alone
  links.tar             a file, a hard link to it and a symbolic link
  big-link.tar.gz       big.bin (42 MiB of one line) and copy.bin, a hard link to it
  hostile.tar           "../x", "/abs", "C:x", "CON" and one harmless member
  link-bomb.tar.gz      a 1 KiB file and 1100 hard links to it (links copy at most 1024 times the data)
  legacy.tar            a ustar member named in CP866 bytes (a Russian DOS name)
  legacy-1251.tar       ustar members named in CP1251 bytes, long names first, then short ones
  damaged.tar.gz        tar-pax.tar.gz with bytes in the middle flipped
  truncated.tar.xz      tar-pax.tar.xz cut in the middle
  badcheck.tar.gz       tar-pax.tar.gz with the CRC-32 in its trailer flipped
  cutcheck.tar.gz       tar-pax.tar.gz cut inside its trailer
  badcheck.tar.xz       tar-pax.tar.xz with the CRC-32 of its stream footer flipped
  passover.*            big.bin (42 MiB of one line) then small.txt, as .tar.gz, .tar.xz, .tar.zst and
                        a solid 7z: what is decoded only to be passed over when big.bin is left out
  kinds.txt             one line per archive that extracts whole: name, then its tree (files or
                        rar/<name>.out)
"""
import binascii
import io
import os
import random
import shutil
import subprocess
import sys
import tarfile

out = sys.argv[1]
libarchive = sys.argv[2]
files = os.path.join(out, "files")
shutil.rmtree(out, ignore_errors=True)
os.makedirs(files)


def write(path, data):
    full = os.path.join(files, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


rng = random.Random(27)
write("docs/readme.txt", b"".join(b"line %d of the readme\n" % i for i in range(4000)))
write("data/random.bin", bytes(rng.getrandbits(8) for _ in range(300_000)))
write("empty.txt", b"")
write("Gr\u00fc\u00dfe \u65e5\u672c.txt", "\u00c4rger und \u65e5\u672c\n".encode())
write("long/" + "d" * 90 + "/" + "n" * 60 + ".txt", b"a path longer than 100 bytes\n")
# A sparse file: holes, 4 KiB of data, a hole, 4 KiB of data, a hole up to 1 MiB.
with open(os.path.join(files, "sparse.bin"), "wb") as f:
    f.truncate(1 << 20)
    f.seek(64 << 10)
    f.write(bytes(rng.getrandbits(8) for _ in range(4096)))
    f.seek(512 << 10)
    f.write(b"x" * 4096)

kinds = []


def run(*args, cwd=files):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def bsdtar(name, *options):
    run("bsdtar", "-cf", os.path.join(out, name), *options, ".")
    kinds.append((name, "files"))


bsdtar("tar-ustar.tar", "--format", "ustar")
bsdtar("tar-pax.tar", "--format", "pax", "--read-sparse")
bsdtar("tar-pax.tar.gz", "--format", "pax", "-z")
bsdtar("tar-pax.tar.bz2", "--format", "pax", "-j")
bsdtar("tar-pax.tar.xz", "--format", "pax", "-J")
bsdtar("tar-pax.tar.zst", "--format", "pax", "--zstd")
bsdtar("cpio-odc.cpio", "--format", "odc")
bsdtar("cpio-newc.cpio", "--format", "newc")
bsdtar("iso9660.iso", "--format", "iso9660")
run("tar", "--format=gnu", "-S", "-cf", os.path.join(out, "tar-gnu.tar"), ".")
kinds.append(("tar-gnu.tar", "files"))

# Single compressed files of docs/readme.txt, extracted as notes.txt.
notes = os.path.join(out, "notes.txt")
shutil.copy(os.path.join(files, "docs/readme.txt"), notes)
single = os.path.join(out, "single")
os.makedirs(single)
shutil.copy(notes, os.path.join(single, "notes.txt"))
for tool, suffix in (("gzip", "gz"), ("bzip2", "bz2"), ("xz", "xz"), ("zstd", "zst"), ("lzma", "lzma")):
    run(tool, "-k", "-f", "-q", "notes.txt", cwd=out)
    kinds.append(("notes.txt." + suffix, "single"))
os.rename(os.path.join(out, "notes.txt.gz"), os.path.join(out, "renamed.gz"))
kinds = [(("renamed.gz", d) if n == "notes.txt.gz" else (n, d)) for n, d in kinds]
os.remove(notes)

if shutil.which("gcab"):
    plain = [os.path.join(root, f) for root, _, names in os.walk(files) for f in names
             if f != "sparse.bin"]
    run("gcab", "-c", "-z", os.path.join(out, "cab.cab"), *[os.path.relpath(p, files) for p in plain])
    cab = os.path.join(out, "cab.out")
    for p in plain:
        target = os.path.join(cab, os.path.relpath(p, files))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(p, target)
    kinds.append(("cab.cab", "cab.out"))

# RAR samples of libarchive's tests; bsdtar says what each holds.
rar = os.path.join(out, "rar")
os.makedirs(rar)


def uudecode(name, target):
    data = bytearray()
    with open(os.path.join(libarchive, "libarchive", "test", name + ".uu")) as f:
        started = False
        for line in f:
            if line.startswith("begin "):
                started = True
                continue
            if not started or line.strip() in ("", "`"):
                continue
            if line.startswith("end"):
                break
            data += binascii.a2b_uu(line)
    with open(target, "wb") as f:
        f.write(data)


samples = {
    "rar4.rar": ["test_read_format_rar.rar"],
    "rar4-unicode.rar": ["test_read_format_rar_unicode.rar"],
    "rar4-best.rar": ["test_read_format_rar_compress_best.rar"],
    "rar5.rar": ["test_read_format_rar5_compressed.rar"],
    "rar5-solid.rar": ["test_read_format_rar5_multiple_files_solid.rar"],
    "rar5-stored.rar": ["test_read_format_rar5_stored.rar"],
    "rar4-encrypted.rar": ["test_read_format_rar_encryption_data.rar"],
    "rar5-volumes.part1.rar": ["test_read_format_rar5_multiarchive.part0%d.rar" % n for n in range(1, 9)],
    "rar4-volumes.part1.rar": ["test_rar_multivolume_multiple_files.part%d.rar" % n for n in range(1, 7)],
}
for name, parts in samples.items():
    written = []
    for number, part in enumerate(parts, 1):
        target = name if len(parts) == 1 else name.replace("part1", "part%d" % number)
        uudecode(part, os.path.join(rar, target))
        written.append(target)
    if "encrypted" in name or len(parts) > 1:
        continue
    os.makedirs(os.path.join(rar, name + ".out"))
    run("bsdtar", "-xf", os.path.join(rar, name), cwd=os.path.join(rar, name + ".out"))
    # The reader never makes links: the tree holds the files alone.
    for root, _, names in os.walk(os.path.join(rar, name + ".out")):
        for f in names:
            if os.path.islink(os.path.join(root, f)):
                os.remove(os.path.join(root, f))
    kinds.append(("rar/" + name, "rar/" + name + ".out"))

# Links, and names that would leave the target folder.
with tarfile.open(os.path.join(out, "links.tar"), "w", format=tarfile.GNU_FORMAT) as t:
    info = tarfile.TarInfo("a.txt")
    info.size = 6
    t.addfile(info, io.BytesIO(b"first\n"))
    info = tarfile.TarInfo("b.txt")
    info.type, info.linkname = tarfile.LNKTYPE, "a.txt"
    t.addfile(info)
    info = tarfile.TarInfo("c.txt")
    info.type, info.linkname = tarfile.SYMTYPE, "a.txt"
    t.addfile(info)
with tarfile.open(os.path.join(out, "link-bomb.tar.gz"), "w:gz", format=tarfile.GNU_FORMAT) as t:
    info = tarfile.TarInfo("big.bin")
    info.size = 1024
    t.addfile(info, io.BytesIO(b"b" * 1024))
    for i in range(1100):
        info = tarfile.TarInfo("link%04d" % i)
        info.type, info.linkname = tarfile.LNKTYPE, "big.bin"
        t.addfile(info)
big = b"a line repeated to fill forty mebibytes.\n" * (1 << 20)
with tarfile.open(os.path.join(out, "big-link.tar.gz"), "w:gz", format=tarfile.GNU_FORMAT) as t:
    info = tarfile.TarInfo("big.bin")
    info.size = len(big)
    t.addfile(info, io.BytesIO(big))
    info = tarfile.TarInfo("copy.bin")
    info.type, info.linkname = tarfile.LNKTYPE, "big.bin"
    t.addfile(info)
with tarfile.open(os.path.join(out, "hostile.tar"), "w", format=tarfile.GNU_FORMAT) as t:
    for name in ("../x", "/abs", "C:x", "CON", "ok.txt"):
        info = tarfile.TarInfo(name)
        info.size = 3
        t.addfile(info, io.BytesIO(b"bad"))

with tarfile.open(os.path.join(out, "legacy.tar"), "w", format=tarfile.USTAR_FORMAT, encoding="cp866") as t:
    info = tarfile.TarInfo("\u041f\u0440\u0438\u0432\u0435\u0442.txt")
    info.size = 3
    t.addfile(info, io.BytesIO(b"dos"))

# Written on a Russian Windows: ANSI page 1251, where the user's OEM page is 866. Alone, the short
# names read better in other pages; with the long ones before them they are plainly 1251.
with tarfile.open(os.path.join(out, "legacy-1251.tar"), "w", format=tarfile.USTAR_FORMAT, encoding="cp1251") as t:
    for name in ("\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b/\u041e\u0442\u0447\u0451\u0442 \u0437\u0430 2023.txt",
                 "\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b/\u042f.txt", "\u0401\u0436.txt"):
        info = tarfile.TarInfo(name)
        info.size = 2
        t.addfile(info, io.BytesIO(b"ru"))

with open(os.path.join(out, "tar-pax.tar.gz"), "rb") as f:
    data = bytearray(f.read())
for i in range(len(data) // 2, len(data) // 2 + 64):
    data[i] ^= 0x5A
with open(os.path.join(out, "damaged.tar.gz"), "wb") as f:
    f.write(data)
with open(os.path.join(out, "tar-pax.tar.xz"), "rb") as f:
    data = f.read()
with open(os.path.join(out, "truncated.tar.xz"), "wb") as f:
    f.write(data[: len(data) // 2])

# Damage that only the stream's last check shows: every member decodes, the check fails.
with open(os.path.join(out, "tar-pax.tar.gz"), "rb") as f:
    data = bytearray(f.read())
with open(os.path.join(out, "cutcheck.tar.gz"), "wb") as f:
    f.write(data[:-3])
data[-8] ^= 0x01
with open(os.path.join(out, "badcheck.tar.gz"), "wb") as f:
    f.write(data)
with open(os.path.join(out, "tar-pax.tar.xz"), "rb") as f:
    data = bytearray(f.read())
data[-12] ^= 0x01
with open(os.path.join(out, "badcheck.tar.xz"), "wb") as f:
    f.write(data)

# Solid data in front of the member wanted: excluding big.bin still decodes it.
passover = os.path.join(out, "passover")
os.makedirs(passover)
with open(os.path.join(passover, "big.bin"), "wb") as f:
    f.write(big)  # not a sparse file: tar would keep its holes and nothing would be decoded
with open(os.path.join(passover, "small.txt"), "wb") as f:
    f.write(b"after the big one\n")
for option, suffix in (("-z", "gz"), ("-J", "xz"), ("--zstd", "zst")):
    run("bsdtar", "-cf", os.path.join(out, "passover.tar." + suffix), option, "big.bin", "small.txt", cwd=passover)
run("7z", "a", "-bd", "-ms=on", "-mx=1", os.path.join(out, "passover.7z"), "big.bin", "small.txt", cwd=passover)
shutil.rmtree(passover)

with open(os.path.join(out, "kinds.txt"), "w") as f:
    for name, tree in kinds:
        f.write("%s %s\n" % (name, tree))
