#!/usr/bin/env bash
# Extraction speed of UNZIP32.DLL beside 7z, bsdtar, python's zipfile and a bare zlib loop under
# Wine, on generated archives, all on the same disk. Each case runs ROUNDS rounds (tools taking
# turns, every run into a fresh folder; see settle() for when it is deleted) and prints medians.
# Then, for every other compression method, ours against 7z on 15 members of 10 MB and on one
# member of 100 MB (KV_BENCH_METHODS=0 leaves them out; making their archives once takes minutes;
# KV_BENCH_BASIC=0 leaves out the cases before them). Then other kinds of archive (7z, tar.gz,
# tar.xz, tar.zst) against 7z and bsdtar (KV_BENCH_FORMATS=0 leaves them out).
# At the end a table: ours beside 7z and bsdtar, ours / the best peer, and our peak memory.
# Usage: bench/run_unzip_bench.sh [build folder with bin/] [work folder] [rounds]
# The default build folder is build/ (the shipped 32-bit build) when this machine runs 32-bit Wine,
# else build/x64. KV_BENCH_ZIP64=0 leaves out the 4 GiB case (slow to make).
# Needs WINEPREFIX/DISPLAY set (as for the tests); uses /usr/lib/wine/wine64 for 64-bit builds,
# wine for 32-bit ones.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${1:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then set -- "$ROOT/build" "${@:2}"; else set -- "$ROOT/build/x64" "${@:2}"; fi
fi
BIN=$(cd "$1" && pwd)/bin
WORK=${2:-/tmp/kv-bench}
ROUNDS=${3:-3}
[ -f "$BIN/unzip_bench.exe" ] || { echo "build unzip_bench and bare_inflate first" >&2; exit 1; }
# The PE machine field (0x8664 for x86_64) picks the loader.
machine=$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$BIN/unzip_bench.exe" | tr -d ' ') + 4 ))" -N2 "$BIN/unzip_bench.exe" | tr -d ' ')
if [ "$machine" = 6486 ]; then WINE=/usr/lib/wine/wine64; BUILD_KIND="64-bit"; else WINE=wine; BUILD_KIND="32-bit"; fi
TABLE=$WORK/table.md
mkdir -p "$WORK/archives"
: >"$TABLE"

# Without a running wineserver every Wine process starts one and boots the prefix again (about
# half a second), which would land on whichever tool runs first after a pause. One server for the
# whole bench; stopped at the end if this script started it (a server already up keeps running).
setsid wineserver -f -p </dev/null >/dev/null 2>&1 &
SERVER=$!
trap 'kill "$SERVER" 2>/dev/null || true; rm -rf "$WORK/done"' EXIT
$WINE cmd /c exit >/dev/null 2>&1 || true

# The archives, made once. Those of the other methods: 7z writes Deflate64, BZip2, LZMA and PPMd;
# XZ and Zstandard members come from the xz and zstd tools (levels 6 and 3, their defaults),
# wrapped into ZIP records by the tests' writer.
python3 - "$WORK/archives" "$(cd "$(dirname "$0")/.." && pwd)/tests/unzip32" <<'PY'
import os, random, subprocess, sys, zipfile, zlib
out, tests = sys.argv[1:]
rng = random.Random(1)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(5000)]
def text(n, seed):
    r = random.Random(seed)
    parts, size = [], 0
    while size < n:
        line = b" ".join(r.choice(words) for _ in range(12)) + b"\n"
        parts.append(line); size += len(line)
    return b"".join(parts)[:n]
def make(name, members, method):
    path = os.path.join(out, name)
    if os.path.exists(path):
        return
    with zipfile.ZipFile(path + ".part", "w", method, compresslevel=6) as z:
        for n, data in members():
            z.writestr(n, data)
    os.rename(path + ".part", path)
make("many-deflated.zip", lambda: ((f"m{i:02}.txt", text(10 << 20, i)) for i in range(15)), zipfile.ZIP_DEFLATED)
make("one-deflated.zip", lambda: [("big.txt", text(200 << 20, 99))], zipfile.ZIP_DEFLATED)
make("stored.zip", lambda: ((f"s{i}.bin", os.urandom(20 << 20)) for i in range(10)), zipfile.ZIP_STORED)
make("small-files.zip", lambda: ((f"d{i % 200:03}/sub/f{i}.txt", text(rng.randint(1024, 8192), i)) for i in range(20000)),
     zipfile.ZIP_DEFLATED)
# ZIP64: a stored member of 4.25 GiB, then one whose record lies past 4 GiB.
path = os.path.join(out, "zip64-4g.zip")
if not os.path.exists(path) and os.environ.get("KV_BENCH_ZIP64", "1") == "1":
    chunk = os.urandom(1 << 20)
    with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_STORED, allowZip64=True) as z:
        with z.open("huge.bin", "w", force_zip64=True) as f:
            for _ in range(4352):
                f.write(chunk)
        z.writestr("after/past-4-gib.txt", b"the record of this member lies past 4 GiB\n")
    os.rename(path + ".part", path)
if os.environ.get("KV_BENCH_METHODS", "1") == "1":
    sys.path.insert(0, tests)
    from make_method_archives import write_zip
    cases = {"many": [(f"m{i:02}.txt", 10 << 20, i) for i in range(15)], "one": [("big.txt", 100 << 20, 99)]}
    for case, members in cases.items():
        folder = os.path.join(out, "src-" + case)
        if not os.path.isdir(folder):
            os.makedirs(folder + ".part")
            for name, size, seed in members:
                with open(os.path.join(folder + ".part", name), "wb") as f:
                    f.write(text(size, seed))
            os.rename(folder + ".part", folder)
        names = [m[0] for m in members]
        for method in ("Deflate64", "BZip2", "LZMA", "PPMd"):
            path = os.path.join(out, f"{case}-{method.lower()}.zip")
            if not os.path.exists(path):
                subprocess.run(["7z", "a", "-tzip", "-mm=" + method, path + ".part.zip", *names], cwd=folder,
                               check=True, stdout=subprocess.DEVNULL)
                os.rename(path + ".part.zip", path)
        for method, id, command in (("xz", 95, ["xz", "-c", "-6", "-T1"]), ("zstd", 93, ["zstd", "-c", "-q", "-3"])):
            path = os.path.join(out, f"{case}-{method}.zip")
            if not os.path.exists(path):
                records = []
                for name in names:
                    data = open(os.path.join(folder, name), "rb").read()
                    packed = subprocess.run(command, input=data, stdout=subprocess.PIPE, check=True).stdout
                    records.append((name, id, 0, zlib.crc32(data), len(data), packed))
                write_zip(path + ".part", records)
                os.rename(path + ".part", path)
if os.environ.get("KV_BENCH_FORMATS", "1") == "1":
    # Other kinds of archive, of a folder of 20,000 small files and of one file of 200 MB, made by
    # the tools that write them with their default settings.
    small = os.path.join(out, "src-small")
    if not os.path.isdir(small):
        for i in range(20000):
            path = os.path.join(small + ".part", f"d{i % 200:03}", "sub", f"f{i}.txt")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(text(rng.randint(1024, 8192), i))
        os.rename(small + ".part", small)
    one = os.path.join(out, "src-one")
    if not os.path.isdir(one):
        os.makedirs(one + ".part")
        with open(os.path.join(one + ".part", "big.txt"), "wb") as f:
            f.write(text(200 << 20, 99))
        os.rename(one + ".part", one)
    for source, label in ((small, "small"), (one, "one")):
        for name, command in (("7z", ["7z", "a", "-m0=LZMA2"]), ("tar.gz", ["bsdtar", "-czf"]),
                              ("tar.xz", ["bsdtar", "-cJf"]), ("tar.zst", ["bsdtar", "--zstd", "-cf"]),
                              ("tar", ["bsdtar", "-cf"])):
            path = os.path.join(out, f"{label}.{name}")
            if name == "tar" and label != "small":
                continue  # only for the bare loop's files of the small cases
            if not os.path.exists(path):
                part = path + ".part." + name
                if name == "7z":
                    subprocess.run([*command, part, "."], cwd=source, check=True, stdout=subprocess.DEVNULL)
                else:
                    subprocess.run([*command, part, "."], cwd=source, check=True)
                os.rename(part, path)
PY

winpath() { echo "Z:${1//\//\\}"; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
elapsed() {
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>"$WORK/last.txt" || echo "  (failed: $*)" >&2
    e=$(date +%s.%N)
    cat "$WORK/last.txt" >>"$WORK/err.log"
    echo "$e - $s" | bc
}
# The output of a run with few files is deleted as soon as the run is timed. This machine hands
# freed memory back to its host, and a page taken afresh costs about 11 us (touching 50 MB of new
# memory takes 140 ms); pages freed a moment ago are cheaper. Kept, the output stays in the page
# cache and every later run of the case has to take new memory: one 200 MB member took us 0.80 s
# inside Wine with the earlier runs' output kept and 0.53 s with it deleted (medians of 8 runs),
# and every peer slowed down round after round the same way (bsdtar 1.00 s in the first round,
# 1.58 s in the fifth). Many small files are left until the case ends: deleting thousands of
# files just before creating thousands costs the kernel 0.3-0.7 ms a file on this disk.
settle() {
    local d
    for d in "$@"; do
        if [ -d "$d" ] && [ "$(find "$d" -type f | head -n 100 | wc -l)" -lt 100 ]; then rm -rf "$d"; fi
    done
}
# A case's folders are moved aside when it ends and deleted when the bench ends (or stops):
# deleted at once, the next case's many new files would come right after thousands were deleted,
# which costs the kernel 0.3-0.7 ms a file here, for every tool (the small tar cases after the
# first took every tool 4-5 s longer than small.tar.gz).
retire() {
    if [ -d "$WORK/out" ]; then mkdir -p "$WORK/done"; mv "$WORK/out" "$WORK/done/$(date +%s%N)"; fi
}
# The seconds a Wine program reports for its own work (its last "... N.NNN s" line), without the
# start-up of a Wine process, which the native peers do not pay. Both figures come from the same
# run: a second run right after the first would find the memory the first one freed still at hand
# (see settle()) and come out faster than a run after another tool, as every peer's run is.
inside() { grep -o '[0-9][0-9.]* s' "$WORK/last.txt" | tail -n 1 | cut -d' ' -f1; }
# Runs a Wine program and prints "peak working set W MiB, peak private P MiB". W is what the
# program reports; P is the peak of the process's anonymous resident memory (RssAnon), sampled
# every 5 ms from outside: Wine's own PeakPagefileUsage leaves out the large heap blocks.
memory_of() {
    python3 - "$@" <<'PY'
import os, re, subprocess, sys, time
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=open(os.environ.get("TMPDIR", "/tmp") + "/kv-bench-mem.txt", "w"))
name = os.path.basename(sys.argv[2]).encode()
peak = 0
while p.poll() is None:
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if name not in open(f"/proc/{pid}/cmdline", "rb").read():
                continue
            anon = re.search(r"RssAnon:\s+(\d+)", open(f"/proc/{pid}/status").read())
        except OSError:
            continue
        if anon:
            peak = max(peak, int(anon.group(1)))
    time.sleep(0.005)
own = re.search(r"peak working set [0-9.]+ MiB", open(os.environ.get("TMPDIR", "/tmp") + "/kv-bench-mem.txt").read())
print(f"{own.group(0) if own else 'peak working set ? MiB'}, peak private {peak / 1024:.1f} MiB")
PY
}

# A case: name, archive, and whether it is a listing ("list") or a method case ("method": ours and
# 7z only, as the other peers do not decode every method).
run_case() {
    local name=$1 archive=$WORK/archives/$2 list=${3:-}
    declare -A times
    declare -A inner
    local tools
    if [ "$list" = method ]; then tools="ours 7z"; list=; method=1; else method=; fi
    if [ -n "$list" ]; then tools="ours 7z"; elif [ -z "$method" ]; then tools="ours bare 7z bsdtar python"; fi
    # Each round starts with the next tool: the first run after a pause is slower (measured on the
    # stored case after 6 s idle: ours 0.76 / 0.34 s against 0.59 / 0.24 s right after, 7z 0.20 /
    # 0.19 against 0.16 / 0.16), a cost that would otherwise always fall on the same tool.
    local order=($tools)
    for r in $(seq "$ROUNDS"); do
        for i in $(seq 0 $(( ${#order[@]} - 1 ))); do
            local t=${order[$(( (i + r - 1) % ${#order[@]} ))]}
            local dest=$WORK/out/$name-$t-$r
            rm -rf "$dest"; mkdir -p "$dest"
            case $t in
                ours) if [ -n "$list" ]; then
                          v=$(elapsed $WINE "$BIN/unzip_bench.exe" "$(winpath "$archive")" x list)
                          inner[$t]+="$(inside) "
                      else
                          v=$(elapsed $WINE "$BIN/unzip_bench.exe" "$(winpath "$archive")" "$(winpath "$dest")")
                          inner[$t]+="$(inside) "
                      fi ;;
                bare) v=$(elapsed $WINE "$BIN/bare_inflate.exe" "$(winpath "$archive")" "$(winpath "$dest")")
                      inner[$t]+="$(inside) " ;;
                7z) if [ -n "$list" ]; then v=$(elapsed 7z l "$archive"); else v=$(elapsed 7z x -y -o"$dest" "$archive"); fi ;;
                bsdtar) v=$(elapsed bsdtar -xf "$archive" -C "$dest") ;;
                python) v=$(elapsed python3 -c "import zipfile,sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" "$archive" "$dest") ;;
            esac
            times[$t]+="$v "
            settle "$dest"
        done
    done
    local line="$name:"
    for t in $tools; do
        m=$(echo "${times[$t]}" | tr ' ' '\n' | grep . | median)
        line+=$(printf "  %s %.3f" "$t" "$m")
        eval "med_$t=$m"
    done
    local ratio
    ratio=$(echo "scale=2; $med_ours / $med_7z" | bc)
    line+="  ours/7z $ratio"
    if [ -z "$list" ] && [ -z "$method" ]; then line+="  ours/bare $(echo "scale=2; $med_ours / $med_bare" | bc)"; fi
    # The same without Wine's process start-up: the library call and the bare loop timed inside.
    local in_ours in_bare=
    in_ours=$(echo "${inner[ours]}" | tr ' ' '\n' | grep . | median)
    line+=$(printf "\n    inside Wine: ours %.3f" "$in_ours")
    line+="  ours/7z $(echo "scale=2; $in_ours / $med_7z" | bc)"
    if [ -z "$list" ] && [ -z "$method" ]; then
        in_bare=$(echo "${inner[bare]}" | tr ' ' '\n' | grep . | median)
        line+=$(printf "  bare %.3f" "$in_bare")
        line+="  ours/bare $(echo "scale=2; $in_ours / $in_bare" | bc)"
    fi
    # Peak memory of one more run of ours, as the library's process reports it.
    local dest=$WORK/out/$name-mem; rm -rf "$dest"; mkdir -p "$dest"
    if [ -n "$list" ]; then
        mem=$(memory_of $WINE "$BIN/unzip_bench.exe" "$(winpath "$archive")" x list)
    else
        mem=$(memory_of $WINE "$BIN/unzip_bench.exe" "$(winpath "$archive")" "$(winpath "$dest")")
    fi
    echo "$line  ($mem)"
    # The table's row: ours inside Wine (the library call; whole processes above), the peers, the
    # ratio to the best peer that ran, our peak private memory.
    local best=$med_7z peers
    peers=$(printf "%.3f" "$med_7z")
    if [ -n "${med_bsdtar:-}" ] && [ -z "$list" ] && [ -z "$method" ]; then
        peers+=$(printf " | %.3f" "$med_bsdtar")
        if [ "$(echo "$med_bsdtar < $best" | bc)" = 1 ]; then best=$med_bsdtar; fi
    else
        peers+=" | -"
    fi
    local private
    private=$(echo "$mem" | grep -o 'peak private [0-9.]*' | grep -o '[0-9.]*$' || echo "?")
    local bare=-
    if [ -n "${in_bare:-}" ]; then bare=$(echo "scale=2; $in_ours / $in_bare" | bc); fi
    printf "| %s | %.3f | %.3f | %s | %s | %s | %s |\n" "$name" "$med_ours" "$in_ours" "$peers" \
        "$(echo "scale=2; $med_ours / $best" | bc) / $(echo "scale=2; $in_ours / $best" | bc)" "$bare" "$private" >>"$TABLE"
    retire
}

echo "timing the $BUILD_KIND build in $BIN (Wine: $WINE); load: $(uptime | sed 's/.*load average/load average/')"
echo "medians of $ROUNDS rounds, wall seconds; ours = UNZIP32.DLL called by unzip_bench (a console client) under Wine; output to files"
echo "(first line: whole processes; 'inside Wine': the library call and the bare loop as timed in-process in the same runs)"
if [ "${KV_BENCH_BASIC:-1}" = 1 ]; then
    run_case many-deflated many-deflated.zip
    run_case one-deflated one-deflated.zip
    run_case stored stored.zip
    run_case small-files small-files.zip
    run_case list-20000 small-files.zip list
fi
if [ "${KV_BENCH_METHODS:-1}" = 1 ]; then
    echo "other methods: 15 members of 10 MB (many-*) and one member of 100 MB (one-*), ours and 7z"
    for method_name in deflate64 bzip2 lzma ppmd xz zstd; do
        run_case "many-$method_name" "many-$method_name.zip" method
        run_case "one-$method_name" "one-$method_name.zip" method
    done
fi

# Other kinds of archive: ours against 7z and bsdtar (bsdtar alone for tar: 7z takes off only the
# compression there, leaving the .tar), ours / the best of them. Where `bare` is among the tools,
# the bare loop writes the same files from small.tar under Wine with no decoding at all: what any
# extractor under Wine needs for them at least (not a peer; ours / bare in the last column).
run_format_case() {
    local name=$1 archive=$WORK/archives/$2
    shift 2
    local tools=(ours "$@")
    declare -A times
    local inner="" bare_inner="" r i t v dest
    for r in $(seq "$ROUNDS"); do
        for i in $(seq 0 $(( ${#tools[@]} - 1 ))); do
            t=${tools[$(( (i + r - 1) % ${#tools[@]} ))]}
            dest=$WORK/out/$name-$t-$r
            rm -rf "$dest"; mkdir -p "$dest"
            case $t in
                ours) v=$(elapsed $WINE "$BIN/unzip_bench.exe" "$(winpath "$archive")" "$(winpath "$dest")")
                      inner+="$(inside) " ;;
                7z) v=$(elapsed 7z x -y -o"$dest" "$archive") ;;
                bsdtar) v=$(elapsed bsdtar -xf "$archive" -C "$dest") ;;
                bare) v=$(elapsed $WINE "$BIN/bare_inflate.exe" "$(winpath "$WORK/archives/small.tar")" "$(winpath "$dest")")
                      bare_inner+="$(inside) " ;;
            esac
            times[$t]+="$v "
            settle "$dest"
        done
    done
    local line="$name:" best= peers="" m
    for t in "${tools[@]}"; do
        m=$(echo "${times[$t]}" | tr ' ' '\n' | grep . | median)
        line+=$(printf "  %s %.3f" "$t" "$m")
        if [ "$t" = ours ]; then med_ours=$m; continue; fi
        if [ "$t" = bare ]; then continue; fi  # not a peer
        if [ -z "$best" ] || [ "$(echo "$m < $best" | bc)" = 1 ]; then best=$m; fi
    done
    for t in 7z bsdtar; do
        m=$(echo "${times[$t]:-}" | tr ' ' '\n' | grep . | median || true)
        if [ -n "$m" ]; then peers+=$(printf "%.3f | " "$m"); else peers+="- | "; fi
    done
    local in_ours in_bare bare_ratio=-
    in_ours=$(echo "$inner" | tr ' ' '\n' | grep . | median)
    if [ -n "$bare_inner" ]; then
        in_bare=$(echo "$bare_inner" | tr ' ' '\n' | grep . | median)
        bare_ratio=$(echo "scale=2; $in_ours / $in_bare" | bc)
    fi
    dest=$WORK/out/$name-mem; rm -rf "$dest"; mkdir -p "$dest"
    local mem private
    mem=$(memory_of $WINE "$BIN/unzip_bench.exe" "$(winpath "$archive")" "$(winpath "$dest")")
    private=$(echo "$mem" | grep -o 'peak private [0-9.]*' | grep -o '[0-9.]*$' || echo "?")
    local bare_text=""
    if [ -n "$bare_inner" ]; then bare_text=$(printf "  bare %.3f  ours/bare %s" "$in_bare" "$bare_ratio"); fi
    echo "$line  ours/best $(echo "scale=2; $med_ours / $best" | bc)  inside Wine: ours $(printf %.3f "$in_ours")$bare_text  ($mem)"
    printf "| %s | %.3f | %.3f | %s%s | %s | %s |\n" "$name" "$med_ours" "$in_ours" "$peers" \
        "$(echo "scale=2; $med_ours / $best" | bc) / $(echo "scale=2; $in_ours / $best" | bc)" "$bare_ratio" "$private" >>"$TABLE"
    retire
}
if [ "${KV_BENCH_FORMATS:-1}" = 1 ]; then
    echo "other kinds of archive: 20,000 small files (small.*) and one file of 200 MB (one.*)"
    run_format_case one-7z-lzma2 one.7z 7z bsdtar
    run_format_case small-7z-solid small.7z 7z bsdtar bare
    for kind in tar.gz tar.xz tar.zst; do
        run_format_case "one-$kind" "one.$kind" bsdtar
        run_format_case "small-$kind" "small.$kind" bsdtar bare
    done
fi

# Peak memory on a 4 GiB ZIP64 archive: one run of ours (set KV_BENCH_ZIP64=0 to leave it out).
if [ -f "$WORK/archives/zip64-4g.zip" ]; then
    dest=$WORK/out/zip64-4g; rm -rf "$dest"; mkdir -p "$dest"
    s=$(date +%s.%N)
    mem=$(memory_of $WINE "$BIN/unzip_bench.exe" "$(winpath "$WORK/archives/zip64-4g.zip")" "$(winpath "$dest")" || true)
    e=$(date +%s.%N)
    got=$(stat -c %s "$dest/huge.bin" 2>/dev/null || echo 0)
    t=$(echo "$e - $s" | bc)
    printf "| zip64-4g | %.3f | - | - | - | - | - | %s |\n" "$t" "$(echo "$mem" | grep -o 'peak private [0-9.]*' | grep -o '[0-9.]*$')" >>"$TABLE"
    printf "zip64-4g     ours %.3f  (%s; huge.bin %s bytes, %s)\n" "$(echo "$e - $s" | bc)" "$mem" "$got" \
        "$( [ -f "$dest/after/past-4-gib.txt" ] && echo 'member past 4 GiB extracted' || echo 'member past 4 GiB MISSING')"
    rm -rf "$WORK/out"
fi

echo
echo "$BUILD_KIND build, medians of $ROUNDS rounds, wall seconds; load at the end: $(uptime | sed 's/.*load average: //')"
echo "| case | ours (process) | ours (inside Wine) | 7z | bsdtar | ours / best peer (process / inside) | ours / bare loop (inside) | peak private MiB |"
echo "|---|---|---|---|---|---|---|---|"
cat "$TABLE"
