#!/usr/bin/env python3
"""Makes archives split into volumes for the DLL and native core tests, from the ZIP format's
public description (records written here, byte by byte) and the tools that split archives.

Usage: make_volume_archives.py <output folder>

Writes into <folder>/volumes:
  files/                 the original files (the same set in every archive)
  spanned.z01 .. .z03,   a PKZIP spanned set: the spanning mark at the start of the first disk,
  spanned.zip            offsets relative to each record's disk, disk numbers in the directory and
                         the end record. The disks are cut in a member's data, in a stored
                         member's data descriptor and between two records of the central
                         directory (records themselves are never cut, as writers must not).
  gzipped.z01, .zip      a spanned set whose last disk starts with member data that looks like
                         a gzip stream (notes.txt.gz, stored) 
  split.zip.001 ..       a ZIP cut into pieces of 4 KiB as `split -b` does
  photos.7z.001 ..       7z's own volumes (7z a -v4k)
"""
import gzip
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

DOS_TIME = 0x6000  # 12:00:00
DOS_DATE = 0x5221  # 2021-01-01


def members():
    rng = random.Random(27)
    noise = bytes(rng.getrandbits(8) for _ in range(9000))
    text = b"".join(b"line %05d of a text that deflates well\r\n" % i for i in range(600))
    return [
        ("random.bin", noise, 8),
        ("stored.bin", bytes(rng.getrandbits(8) for _ in range(5000)), 0),
        ("folder/notes.txt", text, 8),
        ("small.txt", b"the last member\n", 0),
    ]


def write_files(folder, files):
    for name, data, _ in files:
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def spanned_set(files, cut):
    """The members as one stream, their records, the directory's start, and where `cut` puts the
    disks' boundaries (given the records, where each member's data starts, the descriptors and the
    directory)."""
    out = bytearray(struct.pack("<I", 0x08074B50))  # the spanning mark
    records = []
    descriptors = []
    data_at = []
    for name, data, method in files:
        packed = data if method == 0 else zlib.compress(data, 9)[2:-4]
        crc = zlib.crc32(data)
        descriptor = name == "stored.bin"
        flags = 0x0008 if descriptor else 0
        local = len(out)
        fields = (0, 0, 0) if descriptor else (crc, len(packed), len(data))
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, DOS_TIME, DOS_DATE, *fields,
                           len(name), 0) + name.encode()
        data_at.append(len(out))
        out += packed
        if descriptor:
            descriptors.append(len(out))
            out += struct.pack("<IIII", 0x08074B50, crc, len(packed), len(data))
        records.append((name, method, flags, crc, len(packed), len(data), local))
    directory = len(out)
    return out, records, directory, cut(records, data_at, descriptors, directory)


def disk_of(offset, cuts):
    """The disk (from 0) holding `offset`, and the offset on it."""
    starts = [0] + cuts
    disk = max(i for i, start in enumerate(starts) if start <= offset)
    return disk, offset - starts[disk]


def write_spanned(folder, stem, files, cut):
    out, records, directory, cuts = spanned_set(files, cut)
    central = bytearray()
    on_last = 0
    for name, method, flags, crc, packed, size, local in records:
        disk, offset = disk_of(local, cuts)
        if disk_of(directory + len(central), cuts)[0] == len(cuts):
            on_last += 1
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, DOS_TIME, DOS_DATE, crc,
                               packed, size, len(name), 0, 0, disk, 0, 0, offset) + name.encode()
    out += central
    directory_disk, directory_offset = disk_of(directory, cuts)
    last = len(cuts)
    out += struct.pack("<IHHHHIIH", 0x06054B50, last, directory_disk, on_last, len(records), len(central),
                       directory_offset, 0)
    bounds = [0] + cuts + [len(out)]
    for i in range(len(bounds) - 1):
        suffix = "zip" if i == last else "z%02d" % (i + 1)
        with open(os.path.join(folder, stem + "." + suffix), "wb") as f:
            f.write(out[bounds[i]:bounds[i + 1]])


def write_split_zip(folder, files):
    whole = os.path.join(folder, "split.zip")
    with zipfile.ZipFile(whole, "w") as z:
        for name, data, method in files:
            z.writestr(name, data, zipfile.ZIP_DEFLATED if method == 8 else zipfile.ZIP_STORED)
    with open(whole, "rb") as f:
        data = f.read()
    os.remove(whole)
    for i in range(0, len(data), 4096):
        with open(os.path.join(folder, "split.zip.%03d" % (i // 4096 + 1)), "wb") as f:
            f.write(data[i:i + 4096])


def main():
    folder = os.path.join(sys.argv[1], "volumes")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    files = members()
    write_files(os.path.join(folder, "files"), files)
    # Cut in the first member's data, in the data descriptor, after two directory records.
    write_spanned(folder, "spanned", files, lambda records, data_at, descriptors, directory: [
        data_at[0] + 3970, descriptors[0] + 6, directory + sum(46 + len(r[0]) for r in records[:2])])
    # The last disk starts with a member's data that looks like a gzip stream.
    gzipped = [("notes.txt.gz", gzip.compress(files[2][1], mtime=0), 0), files[3]]
    write_spanned(folder, "gzipped", gzipped, lambda records, data_at, descriptors, directory: [data_at[0]])
    write_split_zip(folder, files)
    subprocess.run(["7z", "a", "-bd", "-bso0", "-v4k", "-mx1", os.path.join(folder, "photos.7z"), "."],
                   cwd=os.path.join(folder, "files"), check=True)


if __name__ == "__main__":
    main()
