#!/usr/bin/env python3
"""Checks an installer and a portable zip against the program files they were made from.

    check_packages.py SETUP PORTABLE BIN_DIR x86|x64

The zip must hold exactly kestrova.exe, UNZIP32.DLL and kvupdate.exe at its top level, each intact
and byte for byte the file of BIN_DIR; the installer and every packed program must be Windows
programs of the flavour's machine type (the shipped flavour is 32-bit). Every failure is printed
and makes the exit code nonzero.
"""
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


def check(setup, portable, bin_dir, flavour):
    failures = []
    machine = MACHINES[flavour]

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
    if len(argv) != 5 or argv[4] not in MACHINES:
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
