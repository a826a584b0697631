#!/usr/bin/env python3
"""Writes corpus_expected.txt, the table CorpusTest.cpp checks the library against, from the
shared test corpus's MANIFEST.md (expected outcome per archive) and expected.json (python zipfile's
view of each archive: members with size and CRC-32, and whether every member read cleanly).

Usage: make_corpus_expected.py <corpus folder> > corpus_expected.txt

Line format (tab-separated):
  A <path> <class> <clean>          one archive; class: ok | encrypted | unsupported | refuse |
                                    corrupt | multidisk | any; clean: 1 when python read it cleanly
                                    (or listed it and lacks only a decoder that the library has)
  M <strict> <size> <crc> <name>    one file member of the archive above; strict 1: the name is
                                    plain enough that the file must exist under exactly that path;
                                    2: a later member of the same name replaces it
"""
import json
import os
import re
import sys

DEVICES = {"CON", "PRN", "AUX", "NUL"} | {f"{p}{d}" for p in ("COM", "LPT") for d in range(10)}


def outcome_class(text):
    t = text.strip().lower()
    if t.startswith("extract all fine"):
        return "ok"
    if t.startswith("encrypted"):
        return "encrypted"
    if t.startswith("unsupported method"):
        return "unsupported"
    if t.startswith("unsupported (split") or t.startswith("unsupported (multi"):
        return "multidisk"
    if t.startswith("must refuse member"):
        return "refuse"
    if t.startswith(("must report corruption", "must report not a zip", "not an archive",
                     "must report inconsistency", "report crc error")):
        return "corrupt"
    return "any"


# Tolerance decisions: archives whose every member's data checks out (CRC-32 and size) but whose
# records disagree in a way some readers reject. The library extracts them.
TOLERATED = {
    "libzip/incons-trailing-garbage.zip",  # deflate stream ends before the declared packed size
    # Byte-identical to badzipfiles/compressedSizeOutOfBounds.zip, whose outcome is "must report
    # corruption": the stored member's packed size runs past the end of the file. Reported (2).
    "dotnet-runtime-assets/ZipTestData/badzipfiles/NORMAL.zip",
}


# The compression methods the library decodes. An archive the MANIFEST calls "unsupported method"
# (written before the library decoded them) whose members all use these is expected to extract
# when 7-Zip tests it clean; its members are compared with python's listing (sizes and CRCs from
# the directory) even where python itself cannot decode them.
DECODED = {0, 8, 9, 12, 14, 20, 93, 95, 98}
UNSUPPORTED_BY_PYTHON = "That compression method is not supported"


def decoded_here(info):
    py = info.get("python_zipfile", {})
    members = [m for m in py.get("members", []) if not m["name"].endswith("/")]
    return py.get("open") == "ok" and bool(members) and all(
        m.get("method") in DECODED and not m.get("flags", 0) & 1 for m in members)


def python_reads(py, info):
    """Python read every member, or listed it and failed only on a method decoded here."""
    test = py.get("data_test")
    if test == "ok":
        return True
    return (py.get("open") == "ok" and isinstance(test, list) and decoded_here(info) and
            all(UNSUPPORTED_BY_PYTHON in message for message in test))


def plain(name, all_names):
    if not name or not all(32 <= ord(c) < 127 for c in name):
        return False
    if "\\" in name or name.startswith("/") or any(c in name for c in '<>:"|?*'):
        return False
    parts = name.split("/")
    for part in parts:
        if part in ("", ".", "..") or part.endswith((".", " ")) or part.split(".")[0].upper() in DEVICES:
            return False
    lowered = name.lower()
    return sum(1 for n in all_names if n.lower() == lowered) == 1 and not any(
        n.lower().startswith(lowered + "/") for n in all_names)


def main():
    corpus = sys.argv[1]
    outcomes = {}
    strong = set()
    for line in open(f"{corpus}/MANIFEST.md", encoding="utf-8"):
        m = re.match(r"^\| corpus/(.+?) \| (.*?) \| (.*?) \|", line)
        if m:
            outcomes[m.group(1)] = m.group(3)
            if "encrypted(strong)" in line:
                strong.add(m.group(1))
    files = json.load(open(f"{corpus}/expected.json", encoding="utf-8"))["files"]
    for path in sorted(files):
        info = files[path]
        py = info.get("python_zipfile", {})
        clean = py.get("open") == "ok" and python_reads(py, info)
        cls = "any" if path in TOLERATED else outcome_class(outcomes.get(path, ""))
        # PKWARE's strong encryption (flag bit 6) is not decoded: skipped as unsupported.
        if cls == "encrypted" and path in strong:
            cls = "unsupported"
        if cls == "unsupported" and decoded_here(info):
            cls = "ok" if info.get("7z", {}).get("test_rc") == 0 else "corrupt"
        # A spanned set's .zip with its other disks beside it is read whole.
        if cls == "multidisk" and os.path.exists(os.path.join(corpus, path[:-4] + ".z01")):
            cls = "ok"
        # "Not a zip" that is a gzip stream: extracted as the single compressed file it is.
        if cls == "corrupt" and open(os.path.join(corpus, path), "rb").read(2) == b"\x1f\x8b":
            cls = "ok"
        print(f"A\t{path}\t{cls}\t{1 if clean else 0}")
        if not clean:
            continue
        members = py.get("members", [])
        names = [m["name"] for m in members]
        lowered = [n.lower() for n in names]
        for i, m in enumerate(members):
            if m["name"].endswith("/"):
                continue
            strict = 2 if m["name"].lower() in lowered[i + 1:] else (1 if plain(m["name"], names) else 0)
            name = m["name"].replace("\t", " ").replace("\n", " ")
            print(f"M\t{strict}\t{m['size']}\t{m['crc32']}\t{name}")


main()
