#!/usr/bin/env python3
"""Makes archives whose names are stored in legacy code pages (no UTF-8 flag), written by the
programs that write such archives; tests/unzip32/DllLegacyNamesTest.cpp extracts them.

Usage: make_producer_archives.py <output folder>

Every file holds its own name in UTF-8 and a newline. Writes into the folder:
  ru-cp866.zip    Java's ZipOutputStream with Charset Cp866 (what a Russian Windows' OEM page holds)
  zh-gbk.zip      the same with GBK (Chinese, code page 936)
  de-ibm850.zip   the same with IBM850 (German, Western European OEM page)
  us-cp437.zip    the same with IBM437 (a US system's OEM page)
  ja-cp932.zip    bsdtar --format zip with hdrcharset=CP932 (Japanese); names whose second bytes
                  are 0x5C ('\\') in CP932: ソ, 表, 能
  unicode-path.zip  hand-made: a CP866 name beside a Unicode Path extra (0x7075) left from an
                  older name (its CRC-32 is of other bytes: to be ignored), and a name beside an
                  extra whose CRC-32 matches (to be used)
  ru-zipcrypto.zip  hand-made: a ZipCrypto member whose password was taken as CP866 bytes, as
                  older writers on a Russian system did
  producers.txt   the password of ru-zipcrypto.zip in UTF-8, then the archives' names
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

JAVA = {
    "ru-cp866.zip": ("Cp866", ["Документы/Отчёт за 2023.txt", "Документы/Счёт №15 (копия).txt",
                               "Документы/Письмо директору.txt"]),
    "zh-gbk.zip": ("GBK", ["中文资料/说明文档.txt", "中文资料/会议记录 2023.txt", "中文资料/图片/照片1.jpg"]),
    "de-ibm850.zip": ("IBM850", ["Übersicht/Größe ändern.txt", "Übersicht/Straßenkarte für Köln.txt",
                                 "Übersicht/Bücher (alt).txt"]),
    "us-cp437.zip": ("IBM437", ["Café/Résumé.txt", "Café/Menü ½ Preis.txt", "Café/Naïve façade.txt"]),
}
JAPANESE = ["日本語フォルダ/ソフト表示.txt", "日本語フォルダ/機能一覧.txt", "日本語フォルダ/表計算/予定表.txt"]
PASSWORD = "Пароль"


def content(name):
    return (name + "\n").encode()


def java_archives(out):
    args = []
    for archive, (charset, names) in JAVA.items():
        args += ["--", os.path.join(out, archive), charset] + names
    subprocess.run(["java", os.path.join(HERE, "LegacyNameZip.java")] + args[1:], check=True)


def bsdtar_archive(out):
    """bsdtar reads the names from disk in the locale's character set and stores them in CP932."""
    path = os.path.join(out, "ja-cp932.zip")
    with tempfile.TemporaryDirectory() as tree:
        for name in JAPANESE:
            os.makedirs(os.path.join(tree, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(tree, name), "wb") as f:
                f.write(content(name))
        if os.path.exists(path):
            os.remove(path)
        subprocess.run(["bsdtar", "--format", "zip", "--options", "zip:hdrcharset=CP932", "-cf", path,
                        JAPANESE[0].split("/")[0]], cwd=tree, check=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
    # What bsdtar wrote must be what this test is about: CP932 bytes, no UTF-8 flag, no Unicode extra.
    data = open(path, "rb").read()
    for name in JAPANESE:
        assert name.encode("cp932") in data, name
    at = data.find(b"PK\x01\x02")
    while at >= 0:
        flags, = struct.unpack("<H", data[at + 8:at + 10])
        assert not flags & 0x800, "bsdtar set the UTF-8 flag"
        at = data.find(b"PK\x01\x02", at + 4)
    assert b"\x75\x70" not in data, "bsdtar wrote a Unicode path extra"


def write_zip(path, members):
    """members: (raw name, flags, CRC, size, stored data, extra) tuples; method 0 (stored)."""
    out = bytearray()
    central = bytearray()
    time, date = 0x6000, 0x5721  # 2023-09-01 12:00
    for raw, flags, crc, size, data, extra in members:
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, 0, time, date, crc, len(data), size, len(raw),
                           len(extra)) + raw + extra + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, 0, time, date, crc, len(data),
                               size, len(raw), len(extra), 0, 0, 0, 0, offset) + raw + extra
    start = len(out)
    out += central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), start, 0)
    with open(path, "wb") as f:
        f.write(out)


def unicode_path(header_name, utf8_name):
    """A 0x7075 extra: version 1, the CRC-32 of `header_name` (raw bytes), the UTF-8 name."""
    body = struct.pack("<BI", 1, zlib.crc32(header_name)) + utf8_name.encode()
    return struct.pack("<HH", 0x7075, len(body)) + body


def plain(raw, name, extra=b""):
    data = content(name)
    return (raw, 0, zlib.crc32(data), len(data), data, extra)


def unicode_path_archive(out):
    stale = "Документы/Отчёт за 2023.txt"
    used = "Документы/Сводка.txt"
    write_zip(os.path.join(out, "unicode-path.zip"), [
        # The extra names an older form of the file; its CRC is of that older header name.
        plain(stale.encode("cp866"), stale, unicode_path("Report 2022.txt".encode(), "Отчёт за 2022.txt")),
        # A header name a writer could not hold ('?' for every letter), the true one in the extra.
        plain(b"\xc4\xee\xea\xf3\xec\xe5\xed\xf2\xfb/??????.txt", used,
              unicode_path(b"\xc4\xee\xea\xf3\xec\xe5\xed\xf2\xfb/??????.txt", used)),
    ])


CRC_TABLE = [0] * 256
for n in range(256):
    c = n
    for _ in range(8):
        c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
    CRC_TABLE[n] = c


def zipcrypto(password, data, crc):
    """PKWARE's traditional encryption of `data`, with its 12-byte header (check byte: CRC's top byte)."""
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(byte):
        keys[0] = CRC_TABLE[(keys[0] ^ byte) & 0xFF] ^ (keys[0] >> 8)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = CRC_TABLE[(keys[2] ^ (keys[1] >> 24)) & 0xFF] ^ (keys[2] >> 8)

    for byte in password:
        update(byte)
    header = bytes(range(7, 18)) + bytes([crc >> 24])
    out = bytearray()
    for byte in header + data:
        temp = (keys[2] | 2) & 0xFFFF
        out.append(byte ^ (((temp * (temp ^ 1)) >> 8) & 0xFF))
        update(byte)
    return bytes(out)


def zipcrypto_archive(out):
    name = "secret.txt"
    data = content(name)
    crc = zlib.crc32(data)
    write_zip(os.path.join(out, "ru-zipcrypto.zip"),
              [(name.encode(), 1, crc, len(data), zipcrypto(PASSWORD.encode("cp866"), data, crc), b"")])


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    java_archives(out)
    bsdtar_archive(out)
    unicode_path_archive(out)
    zipcrypto_archive(out)
    archives = sorted(list(JAVA) + ["ja-cp932.zip", "unicode-path.zip", "ru-zipcrypto.zip"])
    with open(os.path.join(out, "producers.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join([PASSWORD] + archives) + "\n")


if __name__ == "__main__":
    main()
