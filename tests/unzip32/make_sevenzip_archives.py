#!/usr/bin/env python3
"""Makes 7z archives with the 7z tool for the 7z reader's tests, plus copies patched here.

Usage: make_sevenzip_archives.py <output folder> [program.exe]

Writes into the folder:
  files/                  the originals: text, noise, a file in a sub-folder, an empty file, an empty folder
  files/program.exe       the program given (x86 code for BCJ and BCJ2; /bin/ls without one)
  <method>.7z             the files, solid, with -m0=<method>: lzma2, lzma, ppmd, bzip2, deflate,
                          deflate64, copy
  lzma2-nonsolid.7z       the same with -ms=off (a folder per file)
  bcj.7z, bcj2.7z         program.exe with -mf=BCJ and -mf=BCJ2 (four packed streams)
  arm64.7z, delta.7z      the files with -mf=ARM64 and -mf=Delta:4
  arm.7z, armt.7z, ppc.7z, sparc.7z, ia64.7z, riscv.7z
                          the files through the other branch converters
  aes.7z                  the files with -p (the password in password.txt), names readable
  aes-headers.7z          the same with -mhe=on: names encrypted too
  aes-umlaut.7z           one.txt with -mhe=on and the password "pässwörd-ü" (UTF-16 in the key)
  dict64m.7z              LZMA2 whose dictionary property is patched to 64 MiB (above what decoders
                          share, below what one decoded alone may take)
  dict2g.7z               the same patched to 2 GiB: refused
  hostile.7z              names patched to "../evil.txt" and "/abs/x.txt" (stored, plain header)
  <name>.corrupt.7z       bytes in the middle of the packed data flipped (lzma2, lzma2-nonsolid,
                          copy, ppmd)
  <name>.truncated.7z     cut in the middle (lzma2, aes-headers)
  password.txt            the password (UTF-8)
"""
import os
import shutil
import struct
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_method_archives import originals  # noqa: E402

OUT = sys.argv[1]
EXE = sys.argv[2] if len(sys.argv) > 2 else "/bin/ls"
FILES = os.path.join(OUT, "files")
PASSWORD = "kv Secret-1"  # the fuzzer's, so that it gets past the encryption of these seeds
UMLAUT_PASSWORD = "pässwörd-ü"
MEMBERS = ["text.txt", "noise.bin", "sub", "empty.txt", "one.txt", "emptydir"]
ENV = dict(os.environ, LC_ALL="C.UTF-8")


def seven_zip(name, *options, folder=FILES, members=MEMBERS):
    path = os.path.join(OUT, name)
    if os.path.exists(path):
        os.remove(path)
    subprocess.run(["7z", "a", "-t7z", *options, path, *members], check=True, cwd=folder, env=ENV,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def header_of(data):
    """The header's offset and bytes, from the signature header."""
    offset, size = struct.unpack_from("<QQ", data, 12)
    return 32 + offset, data[32 + offset:32 + offset + size]


def with_header(data, start, header):
    """The archive with its (plain) header replaced by one of the same size, CRCs made anew."""
    data = bytearray(data)
    data[start:start + len(header)] = header
    struct.pack_into("<I", data, 28, zlib.crc32(header))
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))
    return bytes(data)


def patched(source, name, old, new):
    with open(source, "rb") as f:
        data = f.read()
    start, header = header_of(data)
    assert header.count(old) == 1, (source, old)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(with_header(data, start, header.replace(old, new)))


def damaged(name, how):
    path = os.path.join(OUT, name + ".7z")
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if how == "corrupt":
        start, _ = header_of(data)
        middle = (32 + start) // 2  # inside the packed streams, before the header
        for i in range(middle, middle + 16):
            data[i] ^= 0x55
    else:
        data = data[:len(data) // 2]
    with open(os.path.join(OUT, name + "." + how + ".7z"), "wb") as f:
        f.write(data)


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(os.path.join(FILES, "emptydir"))
    for name, content in originals().items():
        path = os.path.join(FILES, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    shutil.copyfile(EXE, os.path.join(FILES, "program.exe"))
    with open(os.path.join(OUT, "password.txt"), "w", encoding="utf-8") as f:
        f.write(PASSWORD)

    for method in ["LZMA2", "LZMA", "PPMd", "BZip2", "Deflate", "Deflate64", "Copy"]:
        seven_zip(method.lower() + ".7z", "-m0=" + method)
    seven_zip("lzma2-nonsolid.7z", "-ms=off")
    seven_zip("bcj.7z", "-mf=BCJ", members=["program.exe"])
    seven_zip("bcj2.7z", "-mf=BCJ2", members=["program.exe"])
    seven_zip("arm64.7z", "-mf=ARM64")
    seven_zip("delta.7z", "-mf=Delta:4")
    for name in ["ARM", "ARMT", "PPC", "SPARC", "IA64", "RISCV"]:
        seven_zip(name.lower() + ".7z", "-mf=" + name)
    seven_zip("aes.7z", "-p" + PASSWORD)
    seven_zip("aes-headers.7z", "-p" + PASSWORD, "-mhe=on")
    seven_zip("aes-umlaut.7z", "-p" + UMLAUT_PASSWORD, "-mhe=on", members=["one.txt"])

    # The LZMA2 coder in a plain header: flags 0x21 (one id byte, properties), id 0x21, one
    # property byte (the dictionary: 28 is 64 MiB, 38 is 2 GiB).
    plain = seven_zip("plain.7z", "-m0=LZMA2", "-mhc=off", members=["text.txt"])
    with open(plain, "rb") as f:
        _, header = header_of(f.read())
    at = header.index(b"\x21\x21\x01") + 3
    for name, bits in [("dict64m.7z", 28), ("dict2g.7z", 38)]:
        patched(plain, name, b"\x21\x21\x01" + header[at:at + 1], b"\x21\x21\x01" + bytes([bits]))

    folder = os.path.join(OUT, "hostile")
    os.makedirs(os.path.join(folder, "aa"))
    os.makedirs(os.path.join(folder, "abs"))
    for name in ["aa/evil.txt", "abs/x.txt", "good.txt"]:
        with open(os.path.join(folder, name), "w") as f:
            f.write(name)
    seven_zip("hostile-plain.7z", "-m0=Copy", "-mhc=off", folder=folder, members=["aa/evil.txt", "abs/x.txt", "good.txt"])
    with open(os.path.join(OUT, "hostile-plain.7z"), "rb") as f:
        data = f.read()
    start, header = header_of(data)
    header = header.replace("aa/evil.txt".encode("utf-16-le"), "../evil.txt".encode("utf-16-le"))
    header = header.replace("abs/x.txt".encode("utf-16-le"), "/bs/x.txt".encode("utf-16-le"))
    with open(os.path.join(OUT, "hostile.7z"), "wb") as f:
        f.write(with_header(data, start, header))
    shutil.rmtree(folder)

    for name in ["lzma2", "lzma2-nonsolid", "copy", "ppmd"]:
        damaged(name, "corrupt")
    for name in ["lzma2", "aes-headers"]:
        damaged(name, "truncated")


if __name__ == "__main__":
    main()
