#!/usr/bin/env python3
"""Checks an installer and a portable zip against the program files they were made from.

    check_packages.py SETUP PORTABLE BIN_DIR x86|x64 [PORTABLE_X64 BIN_DIR_X64]

The zip must hold exactly kestrova.exe, UNZIP32.DLL and kvupdate.exe at its top level, each intact
and byte for byte the file of BIN_DIR; the installer and every packed program must be Windows
programs of the flavour's machine type. With PORTABLE_X64 and BIN_DIR_X64 (the shipped packages:
a 32-bit installer carrying both builds), that zip is checked the same way against the 64-bit files,
and the installer's listing (7z) must hold the three files of each build with their sizes. Every
failure is printed and makes the exit code nonzero.
"""
import subprocess
import os
import struct
import sys
import zipfile

FILES = ["kestrova.exe", "UNZIP32.DLL", "kvupdate.exe"]
MACHINES = {"x86": 0x14C, "x64": 0x8664}


def pe_machine(data):
    """The COFF machine field of a PE image, or None when the bytes are not one."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if offset + 6 > len(data) or data[offset:offset + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, offset + 4)[0]


def packed_sizes(setup):
    """(name, size) of every file 7z lists in the installer; None when 7z cannot list it."""
    try:
        listing = subprocess.run(["7z", "l", "-slt", setup], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    entries, path = [], None
    for line in listing.splitlines():
        if line.startswith("Path = "):
            path = line[len("Path = "):]
        elif line.startswith("Size = ") and path is not None and line[len("Size = "):].isdigit():
            entries.append((path, int(line[len("Size = "):])))
            path = None
    return entries


def check(setup, portable, bin_dir, flavour, portable64=None, bin_dir64=None):
    failures = []
    machine = MACHINES[flavour]
    if portable64 is not None:
        failures += check_portable(portable64, bin_dir64, "x64")
        entries = packed_sizes(setup)
        if entries is None:
            failures.append(f"installer {setup}: 7z cannot list it")
        else:
            expected = sorted((name, os.path.getsize(f"{folder}/{name}")) for folder in (bin_dir, bin_dir64)
                              for name in FILES)
            found = sorted(e for e in entries if e[0] in FILES)
            if found != expected:
                failures.append(f"installer {setup} holds {found}, expected both builds {expected}")

    try:
        with open(setup, "rb") as f:
            setup_bytes = f.read()
    except OSError as e:
        failures.append(f"installer {setup} cannot be read: {e}")
    else:
        found = pe_machine(setup_bytes)
        if found != machine:
            failures.append(f"installer {setup}: machine {found!r}, expected {machine:#x} ({flavour})")
        if b"NullsoftInst" not in setup_bytes:
            failures.append(f"installer {setup}: no NSIS data found in it")
    return failures + check_portable(portable, bin_dir, flavour)


def check_portable(portable, bin_dir, flavour):
    failures = []
    machine = MACHINES[flavour]
    try:
        archive = zipfile.ZipFile(portable)
    except (OSError, zipfile.BadZipFile) as e:
        failures.append(f"portable zip {portable} cannot be opened: {e}")
        return failures
    with archive:
        names = archive.namelist()
        if sorted(names) != sorted(FILES) or len(names) != len(FILES):
            failures.append(f"portable zip holds {names}, expected exactly {FILES}")
        bad = archive.testzip()
        if bad is not None:
            failures.append(f"portable zip: member {bad} is damaged (CRC or data error)")
        for name in FILES:
            if name not in names:
                continue
            packed = archive.read(name)
            try:
                with open(f"{bin_dir}/{name}", "rb") as f:
                    built = f.read()
            except OSError as e:
                failures.append(f"{name}: the built file cannot be read: {e}")
                continue
            if packed != built:
                failures.append(f"portable zip: {name} differs from {bin_dir}/{name}")
            found = pe_machine(packed)
            if found != machine:
                failures.append(f"portable zip: {name} has machine {found!r}, expected {machine:#x} ({flavour})")
    return failures


def main(argv):
    if len(argv) not in (5, 7) or argv[4] not in MACHINES or (len(argv) == 7 and argv[4] != "x86"):
        print(__doc__, file=sys.stderr)
        return 2
    failures = check(*argv[1:])
    for failure in failures:
        print("FAILED:", failure)
    if not failures:
        print(f"packages OK: {argv[1]} and {argv[2]} ({argv[4]})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
