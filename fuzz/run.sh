#!/usr/bin/env bash
# Builds the ZIP core's fuzzer natively with clang (the compression libraries from Debian's
# sources instrumented too) and runs it.
#   fuzz/run.sh [seconds]      (default 1800; findings go to $FUZZ_WORK/crashes)
# Seeds: every archive of ../shared/corpus (found from the repository root), the archives of every
# compression method that the build makes (build/method-archives, tests/unzip32/make_method_archives.py,
# made here when missing), the 7z archives and the archives of the other kinds, and their members'
# data as one-member seeds for each decoder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-1800}"
work="${FUZZ_WORK:-/tmp/kestrova-fuzz}"
build="$work/build"
mkdir -p "$work/corpus" "$work/crashes"
third_party=$(bash "$root/scripts/kestrova.sh" sources)
cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_THIRD_PARTY="$third_party" >/dev/null
cmake --build "$build" >/dev/null
if [ -z "$(ls -A "$work/corpus")" ]; then
    seeds="$root/../shared/corpus"
    if [ -d "$seeds" ]; then
        # Seeds up to 1 MiB (bigger ones slow every iteration down).
        find "$seeds" -type f ! -name '*.md' ! -name '*.json' -size -1024k -print0 |
            while IFS= read -r -d '' f; do cp "$f" "$work/corpus/$(cksum <"$f" | tr ' ' _)"; done
    fi
    methods="$root/build/method-archives"
    [ -f "$methods/methods.txt" ] || { methods="$work/method-archives"; python3 "$root/tests/unzip32/make_method_archives.py" "$methods"; }
    cp "$methods"/*.zip "$work/corpus/"
    # 7z archives of every coder (tests/unzip32/make_sevenzip_archives.py), the small ones.
    sevenzip="$root/build/sevenzip-archives"
    [ -f "$sevenzip/password.txt" ] || { sevenzip="$work/sevenzip-archives"; python3 "$root/tests/unzip32/make_sevenzip_archives.py" "$sevenzip"; }
    find "$sevenzip" -maxdepth 1 -name '*.7z' -size -1024k -exec cp {} "$work/corpus/" \;
    # The kinds read through libarchive (tests/unzip32/make_kind_archives.py): tar and its compressed
    # forms, single compressed files, cpio, CAB, ISO and libarchive's RAR samples, the small ones.
    kinds="$root/build/x64/kind-archives"
    [ -f "$kinds/kinds.txt" ] || { kinds="$work/kind-archives"; python3 "$root/tests/unzip32/make_kind_archives.py" "$kinds" "$third_party/libarchive"; }
    find "$kinds" -type f ! -name '*.txt' ! -name '*.out' -size -1024k -print0 |
        while IFS= read -r -d '' f; do cp "$f" "$work/corpus/kind-$(cksum <"$f" | tr ' ' _)"; done
    # The fuzz target's one-member form: method index, flags, declared size (3 bytes), then data.
    python3 - "$methods" "$work/corpus" <<'PY'
import os, struct, sys, zipfile
methods = [0, 8, 9, 12, 14, 20, 93, 95, 98]
source, corpus = sys.argv[1:]
for name in sorted(os.listdir(source)):
    if not name.endswith(".zip"):
        continue
    data = open(os.path.join(source, name), "rb").read()
    with zipfile.ZipFile(os.path.join(source, name)) as z:
        for i, info in enumerate(z.infolist()):
            if info.compress_type not in methods or info.compress_size > 256 << 10 or info.file_size >= 1 << 24:
                continue
            at = info.header_offset
            n, e = struct.unpack("<HH", data[at + 26:at + 30])
            packed = data[at + 30 + n + e:at + 30 + n + e + info.compress_size]
            head = bytes([methods.index(info.compress_type), info.flag_bits & 2]) + info.file_size.to_bytes(3, "little")
            open(os.path.join(corpus, "one-%s-%d" % (name, i)), "wb").write(head + packed)
PY
fi
jobs="${FUZZ_JOBS:-1}"
# An allocation too large to be made returns null, as the library's allocator does under Windows
# (the compression libraries and our code fail such a member cleanly); ASan would abort instead.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}allocator_may_return_null=1"
cd "$work"  # libFuzzer writes its job logs into the current folder
exec "$build/fuzz_extract" "$work/corpus" -artifact_prefix="$work/crashes/" -max_total_time="$seconds" \
    -max_len=1048576 -rss_limit_mb=2048 -timeout=20 -jobs="$jobs" -workers="$jobs" -print_final_stats=1
