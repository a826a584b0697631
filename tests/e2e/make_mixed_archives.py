#!/usr/bin/env python3
"""One folder of archives of every kind Kestrova reads, made by the tools that write them, and what
each must extract to.

    make_mixed_archives.py OUT [THIRD_PARTY]

OUT/mixed     the archives (first volumes and the volumes after them)
OUT/listed.txt  the names the explorer lists there, one a line (first volumes only)
OUT/expected/TITLE/...  the tree each archive must give in a sub-folder named after it

RAR cannot be written by a free tool: its archives are the samples of libarchive's own tests, taken
from THIRD_PARTY/libarchive when that source package is there, and what they must give is what
bsdtar extracts from them. CAB is made when gcab is installed.
"""
import binascii
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'unzip32'))
import make_volume_archives  # noqa: E402  (the PKZIP spanned set's writer)


def run(*args, cwd=None):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def uudecode(source, target):
    data = bytearray()
    started = False
    with open(source, 'rb') as lines:
        for line in lines:
            if line.startswith(b'begin '):
                started = True
            elif line.strip() == b'end':
                break
            elif started and line.strip():
                data += binascii.a2b_uu(line)
    with open(target, 'wb') as out:
        out.write(data)


def main():
    out = os.path.abspath(sys.argv[1])
    third_party = sys.argv[2] if len(sys.argv) > 2 else ''
    shutil.rmtree(out, ignore_errors=True)
    mixed = os.path.join(out, 'mixed')
    expected = os.path.join(out, 'expected')
    payload = os.path.join(out, 'payload')
    for folder in (mixed, expected, os.path.join(payload, 'docs'), os.path.join(payload, 'data')):
        os.makedirs(folder)
    # Text, and 300 KB that does not compress, so that volumes of 100 KB make a set of several.
    with open(os.path.join(payload, 'readme.txt'), 'w', newline='') as f:
        f.write('Read me first.\r\n' * 40)
    with open(os.path.join(payload, 'docs', 'guide.txt'), 'w', newline='') as f:
        f.write(''.join('line %d of the guide\n' % i for i in range(3000)))
    with open(os.path.join(payload, 'data', 'values.bin'), 'wb') as f:
        f.write(random.Random(27).randbytes(300000))
    members = ['readme.txt', 'docs', 'data']
    listed = []

    def tree_archive(name, title, *command):
        run(*command, cwd=payload)
        shutil.copytree(payload, os.path.join(expected, title))
        listed.append(name)

    def at(name):
        return os.path.join(mixed, name)

    tree_archive('zip.zip', 'zip', '7z', 'a', '-tzip', at('zip.zip'), *members)
    tree_archive('lzma2.7z', 'lzma2', '7z', 'a', '-m0=LZMA2', at('lzma2.7z'), *members)
    tree_archive('ppmd.7z', 'ppmd', '7z', 'a', '-m0=PPMd', '-ms=on', at('ppmd.7z'), *members)
    tree_archive('volumes.7z.001', 'volumes', '7z', 'a', '-v100k', at('volumes.7z'), *members)
    tree_archive('ustar.tar', 'ustar', 'bsdtar', '--format', 'ustar', '-cf', at('ustar.tar'), *members)
    for name, flag in (('tar-gz.tar.gz', '-z'), ('tgz.tgz', '-z'), ('tar-bz2.tar.bz2', '-j'), ('tbz2.tbz2', '-j'),
                       ('tar-xz.tar.xz', '-J'), ('txz.txz', '-J'), ('tar-zst.tar.zst', '--zstd'),
                       ('tzst.tzst', '--zstd')):
        tree_archive(name, name.split('.')[0], 'bsdtar', '--format', 'pax', flag, '-cf', at(name), *members)
    tree_archive('disc.iso', 'disc', 'bsdtar', '--format', 'iso9660', '-cf', at('disc.iso'), *members)
    if shutil.which('gcab'):
        tree_archive('cabinet.cab', 'cabinet', 'gcab', '-c', '-z', at('cabinet.cab'), 'readme.txt',
                     'docs/guide.txt', 'data/values.bin')

    # A ZIP cut by a file splitter into .001, .002, ...
    run('7z', 'a', '-tzip', at('pieces.zip'), *members, cwd=payload)
    with open(at('pieces.zip'), 'rb') as f:
        whole = f.read()
    os.remove(at('pieces.zip'))
    for i in range(0, len(whole), 100000):
        with open(at('pieces.zip.%03d' % (i // 100000 + 1)), 'wb') as f:
            f.write(whole[i:i + 100000])
    shutil.copytree(payload, os.path.join(expected, 'pieces'))
    listed.append('pieces.zip.001')

    # A PKZIP spanned set (.z01, .z02, .zip): the explorer shows its .zip.
    spanned = make_volume_archives.members()
    make_volume_archives.write_spanned(mixed, 'spanned', spanned, lambda records, data_at, descriptors, directory: [
        data_at[0] + 3970, descriptors[0] + 6])
    make_volume_archives.write_files(os.path.join(expected, 'spanned'), spanned)
    listed.append('spanned.zip')

    # Single compressed files: each extracts to its name without the suffix.
    for suffix, command in (('gz', ['gzip', '-k', '-n']), ('bz2', ['bzip2', '-k']), ('xz', ['xz', '-k']),
                            ('zst', ['zstd', '-q', '-k']), ('lzma', ['lzma', '-k'])):
        title = suffix + '-guide.txt'
        shutil.copy(os.path.join(payload, 'docs', 'guide.txt'), at(title))
        run(*command, at(title))
        os.remove(at(title))
        os.makedirs(os.path.join(expected, title))
        shutil.copy(os.path.join(payload, 'docs', 'guide.txt'), os.path.join(expected, title, title))
        listed.append(title + '.' + suffix)

    samples = os.path.join(third_party, 'libarchive', 'libarchive', 'test')
    if third_party and os.path.isdir(samples):
        for sample, name in (('test_read_format_rar_windows.rar', 'rar4.rar'),
                             ('test_read_format_rar5_compressed.rar', 'rar5.rar'),
                             ('test_rar_multivolume_single_file.part1.rar', 'set.part1.rar'),
                             ('test_rar_multivolume_single_file.part2.rar', 'set.part2.rar'),
                             ('test_rar_multivolume_single_file.part3.rar', 'set.part3.rar')):
            uudecode(os.path.join(samples, sample + '.uu'), at(name))
        # bsdtar reads a set's volumes one after the other from a stream.
        for names in (['rar4.rar'], ['rar5.rar'], ['set.part1.rar', 'set.part2.rar', 'set.part3.rar']):
            title = names[0].split('.')[0]
            os.makedirs(os.path.join(expected, title))
            volumes = b''.join(open(at(name), 'rb').read() for name in names)
            subprocess.run(['bsdtar', '-xf', '-', '-C', os.path.join(expected, title)], input=volumes, check=True)
            listed.append(names[0])

    with open(os.path.join(out, 'listed.txt'), 'w') as f:
        f.write(''.join(name + '\n' for name in sorted(listed)))
    shutil.rmtree(payload)


if __name__ == '__main__':
    main()
