#!/usr/bin/env bash
# One entry for every developer task on a Debian 12 machine (run as root):
#   kestrova.sh run    install what is missing, build, start Kestrova under Wine
#   kestrova.sh test [ctest options]   install what is missing, build, run every test through CTest
#                                       (options such as -R installer pick tests)
#   kestrova.sh build  install what is missing and build
#   kestrova.sh sources      fetch the compression libraries' Debian sources, print their folder
#   kestrova.sh package      build, then make build/dist/Kestrova-<version>-setup.exe and
#                            Kestrova-<version>-portable.zip from the 32-bit programs
#   kestrova.sh screenshots [DPI]  build, then save the README pictures in docs/images/ (at a
#                            screen scale other than 96 DPI: in build/screenshots/DPI/)
# Both commands start what they need (Xvfb, a persistent wineserver, a fresh Wine prefix inside
# the build folder) and stop exactly that again, by PID.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${KESTROVA_BUILD:-$ROOT/build}
# Wine only recommends libgnutls30, but its bcrypt needs it for the ECDSA that kvupdate checks
# updates with; openssl makes the tests' signing key. locales has the sources of the glibc locales the
# tests compile for Wine's Windows locales; Java writes archives with names in legacy code pages.
PACKAGES=(wine wine32:i386 wine64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
          mingw-w64-i686-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev libz-mingw-w64-dev googletest cmake ninja-build xvfb xdotool x11-utils
          imagemagick clang libclang-rt-14-dev zlib1g-dev p7zip-full libarchive-tools python3 nsis fonts-liberation2 bc
          openssl libssl-dev libgnutls30 libgnutls30:i386 dpkg-dev xz-utils zstd locales openjdk-17-jdk-headless gcab)
# Debian source packages of the compression libraries that UNZIP32.DLL links in statically. They are
# fetched once into the build folder (never into the repository); CMake compiles them with the
# build's own compilers (third_party/CMakeLists.txt).
SOURCE_PACKAGES=(bzip2 xz-utils libzstd p7zip libdeflate libarchive)
THIRD_PARTY=$BUILD/third_party/src

log() { echo "kestrova: $*" >&2; }

# A mirror in the middle of a sync fails one index now and then ("File has unexpected size"); it is
# asked again, and an update that still fails is only a warning: what the lists already hold may be
# enough, and apt-get install or apt-get source says plainly when it is not.
apt_update() {
    local try
    for try in 1 2 3; do
        apt-get update -qq && return 0
        log "apt-get update failed (try $try of 3)"
        [ "$try" -lt 3 ] && sleep $((try * 10))
    done
    log "going on with the package lists apt-get has"
}

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt_update
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# apt-get source needs deb-src entries; a fresh Debian 12 machine has only deb ones. The same suites
# of Debian's archives are added as deb-src (deb822 stanzas and one-line entries alike).
has_deb_src() {
    grep -rqsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}

add_deb_src() {
    local f out=/etc/apt/sources.list.d/kestrova-deb-src
    log "adding deb-src entries for Debian's archives ($out.*)"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'function flush() {
                 if (n > 0 && types ~ /(^|[ \t])deb([ \t]|$)/ && uris ~ /debian/ && enabled !~ /^[ \t]*no/) {
                     for (i = 1; i <= n; i++) print (lines[i] ~ /^Types:/ ? "Types: deb-src" : lines[i])
                     print ""
                 }
                 n = 0; types = ""; uris = ""; enabled = ""
             }
             /^[ \t]*$/ { flush(); next }
             /^#/ { next }
             { lines[++n] = $0 }
             /^Types:/ { types = substr($0, 7) }
             /^URIs:/ { uris = $0 }
             /^Enabled:/ { enabled = substr($0, 9) }
             END { flush() }' "$f"
    done >"$out.sources"
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed -n 's/^[[:space:]]*deb[[:space:]]\(.*debian.*\)$/deb-src \1/p' >"$out.list" || true
    [ -s "$out.sources" ] || rm -f "$out.sources"
    [ -s "$out.list" ] || rm -f "$out.list"
}

# Unpacks each source package into $THIRD_PARTY/<name> (once; its Debian version in .debian-version).
# The newest version comes first; when a mirror lacks its files (a security update not mirrored),
# the next older one of the same package is taken.
fetch_sources() {
    local p v dir tmp versions
    for p in "${SOURCE_PACKAGES[@]}"; do
        [ -f "$THIRD_PARTY/$p/.debian-version" ] && continue
        if ! has_deb_src; then add_deb_src; apt_update; fi
        versions=$(apt-cache showsrc "$p" 2>/dev/null |
                   awk -v p="$p" '/^Package: / { cur = $2 } /^Version: / && cur == p { print $2 }' | sort -urV)
        if [ -z "$versions" ]; then
            # The package lists predate the deb-src entries.
            apt_update
            versions=$(apt-cache showsrc "$p" 2>/dev/null |
                       awk -v p="$p" '/^Package: / { cur = $2 } /^Version: / && cur == p { print $2 }' | sort -urV)
        fi
        tmp="$THIRD_PARTY/.fetch-$p"
        dir=
        for v in $versions; do
            rm -rf "$tmp"
            mkdir -p "$tmp"
            log "fetching the Debian source package $p $v"
            if (cd "$tmp" && apt-get source -qq "$p=$v" >/dev/null 2>&1); then
                dir=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)
                [ -n "$dir" ] && break
            fi
        done
        if [ -z "$dir" ]; then
            log "cannot fetch the Debian source package $p (apt-get source $p)"
            rm -rf "$tmp"
            return 1
        fi
        rm -rf "$THIRD_PARTY/$p"
        mv "$dir" "$THIRD_PARTY/$p"
        echo "$v" >"$THIRD_PARTY/$p/.debian-version"
        rm -rf "$tmp"
    done
}

# Some kernels cannot execute 32-bit code at all (no IA-32 emulation); 32-bit Wine cannot run there.
# The deliverables are always the 32-bit build; on such a machine the tests run a 64-bit build of the
# same sources under 64-bit Wine instead.
can_run_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

configure_and_build() {  # folder toolchain [targets...]
    local dir=$1 toolchain=$2
    shift 2
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain.cmake" \
              -DCMAKE_BUILD_TYPE=Release -DKESTROVA_THIRD_PARTY="$THIRD_PARTY" >/dev/null
    fi
    if [ $# -gt 0 ]; then cmake --build "$dir" --target "$@"; else cmake --build "$dir"; fi
}

# The programs a user runs; the tests need everything.
PROGRAMS=(kestrova unzip32 kvupdate)

# Builds the deliverables; sets RUN_BUILD to the build whose programs this machine can run.
build() {  # [targets...]
    install_missing
    fetch_sources
    configure_and_build "$BUILD" mingw-i686 "$@"
    RUN_BUILD=$BUILD
    WINE_LOADER=wine
    if ! can_run_32bit; then
        log "this machine cannot run 32-bit programs: running the 64-bit build of the same sources (build/x64)"
        configure_and_build "$BUILD/x64" mingw-x86_64 "$@"
        RUN_BUILD=$BUILD/x64
        WINE_LOADER=/usr/lib/wine/wine64
    fi
}

STARTED_XVFB=
STARTED_WINESERVER=

stop_started() {
    if [ -n "$STARTED_WINESERVER" ]; then
        wineserver -k 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$STARTED_WINESERVER" 2>/dev/null || break; sleep 0.1; done
        kill "$STARTED_WINESERVER" 2>/dev/null || true
        STARTED_WINESERVER=
    fi
    if [ -n "$STARTED_XVFB" ]; then
        kill "$STARTED_XVFB" 2>/dev/null || true
        wait "$STARTED_XVFB" 2>/dev/null || true
        STARTED_XVFB=
    fi
}

start_display() {  # [virtual [DPI]]: a screen of 1280 x 1024 at 96 DPI, as many inches at another
    if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "virtual" ]; then return 0; fi
    local n=$((90 + RANDOM % 400)) dpi=${2:-96}
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "$((1280 * dpi / 96))x$((1024 * dpi / 96))x24" -nolisten tcp >/dev/null 2>&1 &
    STARTED_XVFB=$!
    export DISPLAY=":$n"
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.05; done
    log "Xvfb did not start"; return 1
}

# A persistent wineserver for $WINEPREFIX, stopped by stop_started. A program started before it
# listens would start a server of its own, which nothing here would stop: the server works in a
# folder of its own, where its socket appears once it listens.
start_wineserver() {
    setsid wineserver -f -p </dev/null >/dev/null 2>&1 &
    STARTED_WINESERVER=$!
    for _ in $(seq 100); do
        [ -S "$(readlink "/proc/$STARTED_WINESERVER/cwd" 2>/dev/null)/socket" ] && break
        sleep 0.05
    done
}

# A fresh prefix for each run: unmanaged windows, real user folders instead of links into the
# host home, a private trash, no host menu entries.
make_prefix() {
    export WINEPREFIX="$BUILD/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
    export XDG_DATA_HOME="$WINEPREFIX/xdg-data"
    if [ "$WINE_LOADER" = wine ]; then export WINEARCH=win32; else unset WINEARCH; fi
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX" "$XDG_DATA_HOME/Trash/files" "$XDG_DATA_HOME/Trash/info"
    start_wineserver
    "$WINE_LOADER" wineboot -i >/dev/null 2>&1
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # The dialogs ask for Arial, which Wine lacks; Liberation Sans has its metrics, so windows show
    # the layout a Windows user sees instead of that of a wider fallback font.
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
    local user_dir
    user_dir=$(ls -d "$WINEPREFIX/drive_c/users/"* | grep -v '/Public$' | head -n 1)
    for f in Desktop Documents Downloads Music Pictures Videos "My Documents"; do
        if [ -L "$user_dir/$f" ]; then rm -f "$user_dir/$f"; mkdir -p "$user_dir/$f"; fi
    done
    mkdir -p "$user_dir/Desktop"
}

# Drive N: of the test prefix, a removable one (a drive without a Recycle Bin, and a medium the
# library extracts from). Wine's mount manager takes a drive's type from the registry only when it
# starts, so the prefix's processes and its wineserver are started again once the drive is there.
add_removable_test_drive() {
    mkdir -p "$BUILD/drive-n"
    ln -sfn "$BUILD/drive-n" "$WINEPREFIX/dosdevices/n:"
    if ! "$WINE_LOADER" reg add 'HKLM\Software\Wine\Drives' /v n: /t REG_SZ /d floppy /f >/dev/null 2>&1; then
        log "drive N: could not be made removable (its tests skip that half)"
        return 0
    fi
    wineserver -k 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$STARTED_WINESERVER" 2>/dev/null || break; sleep 0.1; done
    start_wineserver
    # Wine's services start with the first program and keep its output open: started here, they
    # hold none of the test runner's pipes.
    "$WINE_LOADER" wineboot >/dev/null 2>&1 || true
}

run_tests() {  # [ctest options...]
    build
    trap stop_started EXIT
    start_display virtual
    make_prefix
    add_removable_test_drive
    export KESTROVA_SOURCE="$ROOT" KESTROVA_DELIVERABLES="$BUILD/bin"
    local rc=0
    (cd "$RUN_BUILD" && ctest --output-on-failure --timeout 600 -j2 "$@") || rc=$?
    stop_started
    return $rc
}

# Closes a window as its close box would (WM_CLOSE through the window manager protocol; Wine maps it).
close_window() {
    xdotool windowfocus "$1" key --clearmodifiers alt+F4 2>/dev/null || true
}

run_program() {
    build "${PROGRAMS[@]}"
    trap stop_started EXIT
    local headless=
    if [ -z "${DISPLAY:-}" ]; then headless=1; start_display virtual; fi
    make_prefix
    if [ -z "$headless" ]; then
        (cd "$RUN_BUILD/bin" && "$WINE_LOADER" kestrova.exe) || true
        return 0
    fi
    (cd "$RUN_BUILD/bin" && "$WINE_LOADER" kestrova.exe) &
    local pid=$! shot="$BUILD/kestrova-screenshot.png" win=
    for _ in $(seq 200); do
        win=$(xdotool search --onlyvisible --name '^Kestrova$' 2>/dev/null | head -n 1) && [ -n "$win" ] && break
        sleep 0.1
    done
    if [ -z "$win" ]; then log "the main window did not appear"; kill "$pid" 2>/dev/null; return 1; fi
    sleep 1.5
    import -window root "$shot"
    echo "$shot"
    close_window "$win"
    wait "$pid" || true
}

# The shipped packages, in build/dist: the installer carrying the 32-bit and the 64-bit programs
# (it installs the 64-bit ones on 64-bit Windows), and a portable zip of each build.
make_packages() {
    build "${PROGRAMS[@]}"
    [ "$RUN_BUILD" = "$BUILD/x64" ] || configure_and_build "$BUILD/x64" mingw-x86_64 "${PROGRAMS[@]}"
    bash "$ROOT/scripts/package.sh" "$BUILD/bin" "$BUILD/dist" x86 "$BUILD/x64/bin"
}

# The README pictures (docs/images), taken from the real windows on a display and prefix of their own;
# with a DPI other than 96, the same pictures at that screen scale in build/screenshots/DPI.
take_screenshots() {  # [DPI]
    local dpi=${1:-96} out="$ROOT/docs/images"
    [ "$dpi" = 96 ] || out="$BUILD/screenshots/$dpi"
    build "${PROGRAMS[@]}" screenshot_driver
    trap stop_started EXIT
    start_display virtual "$dpi"
    make_prefix
    export WINE_LOADER
    local rc=0
    bash "$ROOT/scripts/screenshots.sh" "$RUN_BUILD/bin" "$out" "$dpi" || rc=$?
    stop_started
    return $rc
}

command=${1:-}
[ $# -gt 0 ] && shift
case "$command" in
    run) run_program ;;
    test) run_tests "$@" ;;
    build) build "${PROGRAMS[@]}" ;;
    sources) install_missing; fetch_sources; echo "$THIRD_PARTY" ;;
    package) make_packages ;;
    screenshots) take_screenshots "$@" ;;
    *) echo "usage: $0 run|test [ctest options]|build|package|screenshots [DPI]" >&2; exit 2 ;;
esac
