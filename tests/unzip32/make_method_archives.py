#!/usr/bin/env python3
"""Makes the archives of every compression method the library decodes, with the tools that write
them, plus damaged copies; the DLL and native core tests extract them and compare with the
originals.

Usage: make_method_archives.py <output folder>

Writes into the folder:
  files/                 the original files (the same set in every archive)
  <tool>-<method>.zip    7z (-mm=Deflate64, BZip2, LZMA, PPMd), Python's zipfile (bzip2, lzma),
                         and members compressed by the xz and zstd command-line tools wrapped in
                         ZIP records here (methods 95, 93 and the older 20)
  xz-two-streams.zip     each member as two .xz streams (Python's lzma) with padding between
  zstd-frames.zip        Zstandard members of three frames, a skippable frame between two
  xz-blocks.zip          xz members in several blocks with and without sizes in their headers,
                         with CRC-32, CRC-64 or no checks, and one with a 4 KiB dictionary
  lzma-small-dictionary.zip  raw LZMA (Python's lzma) with a 4 KiB dictionary and end markers
  <name>.corrupt.zip     the same archive with bytes of its largest member's data changed
  <name>.truncated.zip   the same archive with its largest member's data cut short (sizes in the
                         records say so; CRC and unpacked size stay)
  deflate64-far.zip      7z's Deflate64 of data that repeats every 40 to 60 KiB: matches that
                         reach back past 32 KiB and run longer than 258 bytes
  bzip2-blocks.zip       bzip2 members of several MiB (blocks of text, random bytes and one long
                         run; two streams in one member), with damaged copies
  7z-lzma-large.zip      7z's LZMA of a 24 MiB member (a 32 MiB dictionary, cut to 24 MiB: more
                         than a decoder's share while others decode) between two small ones
  7z-ultra-ppmd.zip      7z's "Ultra" PPMd (-mx9, a 64 MiB model) of a file of about 3 MB
  7z-ultra-lzma.zip      7z's "Ultra" LZMA (-mx9, a 64 MiB dictionary, cut to the member's 44 MiB):
                         each needs more memory than the decoders share, and is decoded alone
  methods.txt            one line per archive: name, then the method ids of its members
  over-limit-*.zip       members whose dictionary (LZMA, 3 GiB) or window (Zstandard, 1.875 GiB)
                         is more than even a member decoded alone may take, beside a small
                         deflated member
  crypto-*.zip           the same files encrypted by 7z with the password in crypto.txt:
                         ZipCrypto (deflated and stored members, and one streamed from standard
                         input, with a data descriptor), AES-128 stored, AES-192 over LZMA,
                         AES-256 deflated (7z writes AE-2), and crypto-ae1.zip, the AES-256
                         archive turned into AE-1 (version 1, the CRCs filled in)
  crypto-*.corrupt.zip   the same with bytes in the middle of the largest member's data flipped
  crypto-ae1.badcrc.zip  AE-1 with a wrong CRC (authentication code intact)
  crypto.txt             the password, then one line per encrypted archive

bench/run_unzip_bench.sh imports write_zip from here for its XZ and Zstandard archives.
"""
import bz2
import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import lzma
import zipfile
import zlib

OUT = sys.argv[1] if __name__ == "__main__" else None
FILES = os.path.join(OUT, "files") if OUT else None


def originals():
    rng = random.Random(14)
    words = ["".join(rng.choice("etaoinshrdlucmfw") for _ in range(rng.randint(1, 9))) for _ in range(900)]
    text = " ".join(rng.choice(words) for _ in range(60000)).encode()
    noise = bytes(rng.getrandbits(8) for _ in range(40000))
    return {
        "text.txt": text,
        "noise.bin": noise,
        "sub/mixed.bin": text[:50000] + noise[:10000] + text[:90000],
        "empty.txt": b"",
        "one.txt": b"x",
    }


def far_repeats():
    """Blocks of 40 to 60 KiB, each repeated a few times: Deflate64's long, distant matches."""
    rng = random.Random(64)
    parts = []
    for _ in range(5):
        block = bytes(rng.getrandbits(8) for _ in range(rng.randint(40 << 10, 60 << 10)))
        parts.append(block * 3)
    return b"".join(parts)


def run(*command, cwd=None):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=cwd)


def seven_zip(name, method, folder, members, extra=()):
    path = os.path.join(OUT, name)
    run("7z", "a", "-tzip", "-mm=" + method, *extra, path, *members, cwd=folder)
    return path


PASSWORD = "kv Secret-1"


# The wrong passwords the tests give: each must fail the password check of every member, which a
# wrong ZipCrypto password passes by chance once in 256 (one check byte) and an AES one once in
# 65,536 (the 2-byte verifier). 7z picks new random headers and salts every time, so an archive
# that would let one of them through is made again.
WRONG_PASSWORDS = ["wrong", PASSWORD + "x", ""]


def zipcrypto_check_passes(password, header, check):
    table = [0] * 256
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table[i] = c
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(byte):
        keys[0] = (keys[0] >> 8) ^ table[(keys[0] ^ byte) & 0xFF]
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = (keys[2] >> 8) ^ table[(keys[2] ^ (keys[1] >> 24)) & 0xFF]

    for byte in password.encode():
        update(byte)
    plain = 0
    for byte in header:
        temp = (keys[2] | 2) & 0xFFFF
        plain = byte ^ (((temp * (temp ^ 1)) >> 8) & 0xFF)
        update(plain)
    return plain == check


def wrong_password_passes(path):
    data = open(path, "rb").read()
    for _, local, _ in records(data):
        flags, method, time = struct.unpack("<HHH", data[local + 6:local + 12])
        crc = struct.unpack("<I", data[local + 14:local + 18])[0]
        n, e = struct.unpack("<HH", data[local + 26:local + 30])
        start = local + 30 + n + e
        if method == 99:
            extra, strength = data[local + 30 + n:start], None
            while len(extra) >= 4:
                tag, size = struct.unpack("<HH", extra[:4])
                if tag == 0x9901:
                    strength = extra[8]
                extra = extra[4 + size:]
            key = 8 + 8 * strength
            salt, verifier = data[start:start + key // 2], data[start + key // 2:start + key // 2 + 2]
            if any(hashlib.pbkdf2_hmac("sha1", w.encode(), salt, 1000, 2 * key + 2)[-2:] == verifier
                   for w in WRONG_PASSWORDS):
                return True
        elif flags & 1:
            check = (time >> 8) if flags & 0x0008 else (crc >> 24)
            if any(zipcrypto_check_passes(w, data[start:start + 12], check) for w in WRONG_PASSWORDS):
                return True
    return False


def encrypted(name, encryption, members, extra=(), stdin=None):
    path = os.path.join(OUT, name)
    command = ["7z", "a", "-tzip", "-mem=" + encryption, "-p" + PASSWORD, *extra, path, *members]
    for _ in range(50):
        if os.path.exists(path):
            os.remove(path)
        if stdin is None:
            run(*command, cwd=FILES)
        else:
            with open(os.path.join(FILES, stdin), "rb") as f:
                subprocess.run(command + ["-si" + stdin], stdin=f, check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, cwd=FILES)
        if not wrong_password_passes(path):
            return path
    sys.exit(name + ": every archive 7z wrote let a wrong password through")


def records(data):
    """(central record offset, local record offset, name) of every member, from the directory."""
    end = data.rindex(b"PK\x05\x06")
    count, _, at = struct.unpack("<HII", data[end + 10:end + 20])
    found = []
    for _ in range(count):
        n, e, c = struct.unpack("<HHH", data[at + 28:at + 34])
        local = struct.unpack("<I", data[at + 42:at + 46])[0]
        found.append((at, local, data[at + 46:at + 46 + n].decode()))
        at += 46 + n + e + c
    return found


def set_aes_version(data, start, length, version):
    end = start + length
    while start + 4 <= end:
        tag, size = struct.unpack("<HH", data[start:start + 4])
        if tag == 0x9901:
            struct.pack_into("<H", data, start + 4, version)
        start += 4 + size


def as_ae1(source, path, crc_change=0):
    """The AES archive as AE-1: version 1 in every AES extra and the real CRCs (changed by crc_change)."""
    data = bytearray(open(source, "rb").read())
    for central, local, name in records(data):
        crc = (zlib.crc32(MEMBERS[name]) + crc_change) & 0xFFFFFFFF
        n, e = struct.unpack("<HH", data[central + 28:central + 32])
        struct.pack_into("<I", data, central + 16, crc)
        set_aes_version(data, central + 46 + n, e, 1)
        n, e = struct.unpack("<HH", data[local + 26:local + 30])
        struct.pack_into("<I", data, local + 14, crc)
        set_aes_version(data, local + 30 + n, e, 1)
    with open(path, "wb") as f:
        f.write(data)


def flipped(path):
    """The .corrupt copy: 16 bytes in the middle of the largest member's (encrypted) data flipped."""
    data = bytearray(open(path, "rb").read())
    with zipfile.ZipFile(path) as z:
        largest = max(z.infolist(), key=lambda i: i.compress_size)
    n, e = struct.unpack("<HH", data[largest.header_offset + 26:largest.header_offset + 30])
    middle = largest.header_offset + 30 + n + e + largest.compress_size // 2
    for i in range(middle, middle + 16):
        data[i] ^= 0x5A
    with open(path[:-4] + ".corrupt.zip", "wb") as f:
        f.write(data)


def python_zip(name, method):
    path = os.path.join(OUT, name)
    with zipfile.ZipFile(path, "w", method) as z:
        for member in sorted(MEMBERS):
            z.write(os.path.join(FILES, member), member)
    return path


# --- a small ZIP writer for members whose data is compressed elsewhere ---

def dos_time():
    return 0x6000, 0x5021


def write_zip(path, members):
    """members: (name, method, flags, crc, size, packed data) tuples."""
    out = bytearray()
    central = bytearray()
    time, date = dos_time()
    for name, method, flags, crc, size, data in members:
        raw = name.encode()
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, flags, method, time, date, crc, len(data), size,
                           len(raw), 0) + raw + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 63, flags, method, time, date, crc,
                               len(data), size, len(raw), 0, 0, 0, 0, 0, offset) + raw
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), start, 0)
    with open(path, "wb") as f:
        f.write(out)


def raw_members(path):
    """Every member of an archive with its packed bytes as stored."""
    members = []
    with open(path, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            at = info.header_offset
            name_length, extra_length = struct.unpack("<HH", data[at + 26:at + 30])
            start = at + 30 + name_length + extra_length
            members.append([info.filename, info.compress_type, info.flag_bits & ~0x0008, info.CRC, info.file_size,
                            data[start:start + info.compress_size]])
    return members


def wrapped(name, method, command):
    members = []
    for member in sorted(MEMBERS):
        content = MEMBERS[member]
        packed = subprocess.run(command, input=content, stdout=subprocess.PIPE, check=True).stdout
        members.append((member, method, 0, zlib.crc32(content), len(content), packed))
    path = os.path.join(OUT, name)
    write_zip(path, members)
    return path


def damaged(path):
    """The .corrupt and .truncated copies: the largest member's data changed or cut short."""
    members = raw_members(path)
    largest = max(range(len(members)), key=lambda i: len(members[i][5]))
    base = path[:-4]
    corrupt = [list(m) for m in members]
    data = bytearray(corrupt[largest][5])
    for i in range(len(data) // 3, len(data) // 3 + 16):
        data[i] ^= 0x5A
    corrupt[largest][5] = bytes(data)
    write_zip(base + ".corrupt.zip", corrupt)
    truncated = [list(m) for m in members]
    truncated[largest][5] = truncated[largest][5][:len(truncated[largest][5]) // 2]
    write_zip(base + ".truncated.zip", truncated)


def main():
    global MEMBERS
    if os.path.isdir(OUT):
        shutil.rmtree(OUT)
    os.makedirs(FILES)
    MEMBERS = originals()
    for member, content in MEMBERS.items():
        os.makedirs(os.path.dirname(os.path.join(FILES, member)), exist_ok=True)
        with open(os.path.join(FILES, member), "wb") as f:
            f.write(content)
    names = sorted(MEMBERS)
    made = [seven_zip("7z-" + m.lower() + ".zip", m, FILES, names) for m in ("Deflate64", "BZip2", "LZMA", "PPMd")]
    made.append(python_zip("python-bzip2.zip", zipfile.ZIP_BZIP2))
    made.append(python_zip("python-lzma.zip", zipfile.ZIP_LZMA))
    made.append(wrapped("xz-cli.zip", 95, ["xz", "-c", "-6"]))
    # XZ members written in other ways: blocks of 64 KiB with their sizes in their headers (as xz's
    # threads write them) and CRC-32 checks; blocks of 100 KB without sizes, CRC-64; a 4 KiB
    # dictionary that the member goes round, and no check.
    ways = {"text.txt": ["xz", "-c", "-T1", "--block-size=100000", "--check=crc64"],
            "noise.bin": ["xz", "-c", "--check=none", "--lzma2=preset=6,dict=4KiB"]}
    blocks = []
    for member in sorted(MEMBERS):
        content = MEMBERS[member]
        command = ways.get(member, ["xz", "-c", "-T2", "--block-size=65536", "--check=crc32"])
        packed = subprocess.run(command, input=content, stdout=subprocess.PIPE, check=True).stdout
        blocks.append((member, 95, 0, zlib.crc32(content), len(content), packed))
    made.append(os.path.join(OUT, "xz-blocks.zip"))
    write_zip(made[-1], blocks)
    made.append(wrapped("zstd-cli.zip", 93, ["zstd", "-c", "-q", "-19"]))
    # Zstandard members of three frames (level 3 with a checksum, level 19 without, an empty
    # frame) with a skippable frame between the first two, as concatenated files may be.
    frames = []
    skippable = struct.pack("<II", 0x184D2A5E, 5) + b"notes"
    for member in sorted(MEMBERS):
        content = MEMBERS[member]
        half = len(content) // 2
        packed = (subprocess.run(["zstd", "-c", "-q", "-3"], input=content[:half], stdout=subprocess.PIPE,
                                 check=True).stdout + skippable +
                  subprocess.run(["zstd", "-c", "-q", "-19", "--no-check"], input=content[half:],
                                 stdout=subprocess.PIPE, check=True).stdout +
                  subprocess.run(["zstd", "-c", "-q"], input=b"", stdout=subprocess.PIPE, check=True).stdout)
        frames.append((member, 93, 0, zlib.crc32(content), len(content), packed))
    made.append(os.path.join(OUT, "zstd-frames.zip"))
    write_zip(made[-1], frames)
    made.append(wrapped("zstd-cli-method20.zip", 20, ["zstd", "-c", "-q", "-3"]))
    # Each member as two .xz streams with stream padding between them, as concatenated files are.
    halves = []
    for member in sorted(MEMBERS):
        content = MEMBERS[member]
        half = len(content) // 2
        packed = (lzma.compress(content[:half], format=lzma.FORMAT_XZ) + bytes(8) +
                  lzma.compress(content[half:], format=lzma.FORMAT_XZ, check=lzma.CHECK_SHA256))
        halves.append((member, 95, 0, zlib.crc32(content), len(content), packed))
    made.append(os.path.join(OUT, "xz-two-streams.zip"))
    write_zip(made[-1], halves)
    # LZMA with a 4 KiB dictionary, which the larger members go round many times, and an end marker
    # (flag bit 1) after the last byte.
    small = []
    for member in sorted(MEMBERS):
        content = MEMBERS[member]
        packed = lzma.compress(content, format=lzma.FORMAT_RAW, filters=[
            {"id": lzma.FILTER_LZMA1, "dict_size": 4096, "lc": 3, "lp": 0, "pb": 2}])
        header = bytes([16, 2, 5, 0, (2 * 5 + 0) * 9 + 3]) + (4096).to_bytes(4, "little")
        small.append((member, 14, 2, zlib.crc32(content), len(content), header + packed))
    made.append(os.path.join(OUT, "lzma-small-dictionary.zip"))
    write_zip(made[-1], small)
    for path in made:
        damaged(path)

    secret = [encrypted("crypto-zipcrypto.zip", "ZipCrypto", names),
              encrypted("crypto-zipcrypto-stream.zip", "ZipCrypto", [], stdin="text.txt"),
              encrypted("crypto-aes128.zip", "AES128", names, ["-mx=0"]),
              encrypted("crypto-aes192.zip", "AES192", names, ["-mm=LZMA"]),
              encrypted("crypto-aes256.zip", "AES256", names)]
    with zipfile.ZipFile(secret[1]) as z:
        if not z.infolist()[0].flag_bits & 0x0008:
            sys.exit("7z wrote no data descriptor for crypto-zipcrypto-stream.zip")
    secret.append(os.path.join(OUT, "crypto-ae1.zip"))
    as_ae1(secret[4], secret[-1])
    as_ae1(secret[4], os.path.join(OUT, "crypto-ae1.badcrc.zip"), 1)
    for path in secret:
        flipped(path)
    with open(os.path.join(OUT, "crypto.txt"), "w") as f:
        f.write(PASSWORD + "\n" + "".join(os.path.basename(p) + "\n" for p in secret))

    far = os.path.join(OUT, "far")
    os.makedirs(far)
    with open(os.path.join(far, "repeats.bin"), "wb") as f:
        f.write(far_repeats())
    made.append(seven_zip("deflate64-far.zip", "Deflate64", far, ["repeats.bin"]))
    with open(os.path.join(far, "large.txt"), "wb") as f:
        f.write(MEMBERS["text.txt"] * (24 * 2**20 // len(MEMBERS["text.txt"])))
    shutil.copy(os.path.join(FILES, "one.txt"), os.path.join(far, "one.txt"))
    made.append(seven_zip("7z-lzma-large.zip", "LZMA", far, ["one.txt", "large.txt", "repeats.bin"]))
    os.remove(os.path.join(far, "one.txt"))
    shutil.move(os.path.join(far, "large.txt"), os.path.join(FILES, "large.txt"))
    listing = subprocess.run(["7z", "l", "-slt", os.path.join(OUT, "deflate64-far.zip")], stdout=subprocess.PIPE,
                             check=True, text=True).stdout
    if "Method = Deflate64" not in listing:
        sys.exit("7z did not write Deflate64 for deflate64-far.zip")
    shutil.move(os.path.join(far, "repeats.bin"), os.path.join(FILES, "repeats.bin"))
    os.rmdir(far)

    # bzip2 data large enough to be decoded on several cores: blocks of text, of random bytes and of
    # one long run (whose output is larger than a block's kept output), and a member of two
    # streams one after the other, as parallel bzip2 writers make them.
    rng = random.Random(12)
    noise = rng.randbytes(5 << 20)
    blocks = MEMBERS["text.txt"] * 6 + noise[:9 << 19] + bytes(6 << 20) + noise[9 << 19:5 << 20]
    streams = noise[:5 << 19] + MEMBERS["text.txt"] * 2 + noise[5 << 19:]
    bzip2_members = [("blocks.bin", blocks, bz2.compress(blocks, 9)),
                     ("streams.bin", streams, bz2.compress(streams[:5 << 19], 9) + bz2.compress(streams[5 << 19:], 5))]
    for member, content, _ in bzip2_members:
        with open(os.path.join(FILES, member), "wb") as f:
            f.write(content)
    made.append(os.path.join(OUT, "bzip2-blocks.zip"))
    write_zip(made[-1], [(m, 12, 0, zlib.crc32(c), len(c), packed) for m, c, packed in bzip2_members])
    damaged(made[-1])

    # 7-Zip's "Ultra" setting: PPMd keeps its 64 MiB model whole for files from about 2.5 MB on, and
    # LZMA's 64 MiB dictionary is cut to the member's size, still more than 40 MiB.
    ultra = os.path.join(OUT, "ultra")
    os.makedirs(ultra)
    text = MEMBERS["text.txt"]
    with open(os.path.join(ultra, "ultra-ppmd.txt"), "wb") as f:
        f.write(text * (3000000 // len(text) + 1))
    with open(os.path.join(ultra, "ultra-lzma.txt"), "wb") as f:
        f.write(text * (44 * 2**20 // len(text) + 1))
    seven_zip("7z-ultra-ppmd.zip", "PPMd", ultra, ["ultra-ppmd.txt"], ["-mx9", "-mmem=64m"])
    seven_zip("7z-ultra-lzma.zip", "LZMA", ultra, ["ultra-lzma.txt"], ["-mx9", "-md=64m"])
    ppmd = struct.unpack("<H", raw_members(os.path.join(OUT, "7z-ultra-ppmd.zip"))[0][5][:2])[0]
    lzma_dictionary = struct.unpack("<I", raw_members(os.path.join(OUT, "7z-ultra-lzma.zip"))[0][5][5:9])[0]
    if ((ppmd >> 4) & 0xFF) + 1 < 64 or lzma_dictionary <= 40 << 20:
        sys.exit("7z did not keep the Ultra model or dictionary")
    for name in ("ultra-ppmd.txt", "ultra-lzma.txt"):
        shutil.move(os.path.join(ultra, name), os.path.join(FILES, name))
    os.rmdir(ultra)

    # More than even a member decoded alone may take (the headers ask for it; the data after them
    # does not matter, as the decoder refuses the member first): an LZMA dictionary of 4 GiB for a
    # member of 3 GiB, and a Zstandard frame with a window of 1.875 GiB.
    small = b"small and fine\n"
    fine = ("small.txt", 8, 0, zlib.crc32(small), len(small), zlib.compress(small)[2:-4])
    write_zip(os.path.join(OUT, "over-limit-lzma.zip"),
              [("hungry.txt", 14, 0, 0, 3 << 30, b"\x10\x02\x05\x00\x5d\xff\xff\xff\xff" + bytes(20)), fine])
    write_zip(os.path.join(OUT, "over-limit-zstd.zip"),
              [("hungry.txt", 93, 0, 0, 1, b"\x28\xb5\x2f\xfd\x00\xa7\x09\x00\x00x"), fine])

    with open(os.path.join(OUT, "methods.txt"), "w") as f:
        for path in sorted(os.listdir(OUT)):
            if path.endswith(".zip") and not any(w in path for w in (".corrupt", ".truncated", "over-limit", "crypto")):
                with zipfile.ZipFile(os.path.join(OUT, path)) as z:
                    ids = sorted({i.compress_type for i in z.infolist() if not i.is_dir()})
                f.write(path + " " + " ".join(map(str, ids)) + "\n")


if __name__ == "__main__":
    main()
