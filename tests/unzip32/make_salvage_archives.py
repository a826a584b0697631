#!/usr/bin/env python3
"""Makes whole ZIP archives with the tools that write them, for the tests that cut them short,
zero their directories or append data to them (the tests do that to copies in memory).

Usage: make_salvage_archives.py <output folder>

Writes into the folder:
  files/               the original files: text, random bytes, an empty file, a folder (a.txt, small,
                       comes first in every archive)
  python.zip           Python's zipfile, deflated, sizes in the local records
  python-stream.zip    Python's zipfile written to a pipe: every member with a data descriptor,
                       stored and deflated members in turn
  7z.zip               7z, deflated
  bsdtar.zip           bsdtar, deflated (data descriptors)
  bsdtar-stored.zip    bsdtar, stored (data descriptors: only they give the sizes)
"""
import io
import os
import random
import shutil
import subprocess
import sys
import zipfile

OUT = os.path.abspath(sys.argv[1])
FILES = os.path.join(OUT, "files")


def originals():
    rng = random.Random(28)
    words = ["".join(rng.choice("etaoinshrdlucmfw") for _ in range(rng.randint(1, 9))) for _ in range(500)]
    members = {}
    for i in range(12):
        size = rng.randint(2000, 40000)
        if i % 3 == 1:
            members["noise%02d.bin" % i] = rng.randbytes(size)
        else:
            members["docs/text%02d.txt" % i] = " ".join(rng.choice(words) for _ in range(size // 5)).encode()
    members["empty.txt"] = b""
    members["a.txt"] = b"the first member, small enough to be whole in a tenth of any archive\n"
    return members


class Pipe(io.RawIOBase):
    """A stream that cannot seek, as standard output is: zipfile then writes data descriptors."""

    def __init__(self, target):
        self.target = target

    def writable(self):
        return True

    def write(self, data):
        self.target.write(data)
        return len(data)


def main():
    if os.path.isdir(OUT):
        shutil.rmtree(OUT)
    os.makedirs(FILES)
    members = originals()
    names = sorted(members)
    for name in names:
        os.makedirs(os.path.dirname(os.path.join(FILES, name)), exist_ok=True)
        with open(os.path.join(FILES, name), "wb") as f:
            f.write(members[name])
    with zipfile.ZipFile(os.path.join(OUT, "python.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.write(os.path.join(FILES, "docs"), "docs/")
        for name in names:
            z.writestr(name, members[name])
    with open(os.path.join(OUT, "python-stream.zip"), "wb") as f:
        with zipfile.ZipFile(Pipe(f), "w") as z:
            for i, name in enumerate(names):
                method = zipfile.ZIP_STORED if i % 2 else zipfile.ZIP_DEFLATED
                info = zipfile.ZipInfo(name, (2021, 1, 1, 12, 0, 0))
                info.compress_type = method
                with z.open(info, "w") as member:
                    member.write(members[name])
    subprocess.run(["7z", "a", "-tzip", "-mm=Deflate", os.path.join(OUT, "7z.zip")] + names, cwd=FILES, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["bsdtar", "-c", "--format", "zip", "-f", os.path.join(OUT, "bsdtar.zip")] + names, cwd=FILES,
                   check=True)
    subprocess.run(["bsdtar", "-c", "--format", "zip", "--options", "zip:compression=store", "-f",
                    os.path.join(OUT, "bsdtar-stored.zip")] + names, cwd=FILES, check=True)
    for name in ("python-stream.zip", "bsdtar.zip", "bsdtar-stored.zip"):
        with zipfile.ZipFile(os.path.join(OUT, name)) as z:
            if not all(i.flag_bits & 0x0008 for i in z.infolist()):
                sys.exit(name + " has members without a data descriptor")


if __name__ == "__main__":
    main()
