# The compression libraries that the ZIP core links in statically, compiled from Debian's source
# packages, which scripts/kestrova.sh fetches once into KESTROVA_THIRD_PARTY (bzip2, xz-utils,
# libzstd, p7zip, libdeflate, libarchive; `bash scripts/kestrova.sh sources`). They are never copied into the repository.
# Only the decoding parts are built, as static libraries, with the compilers and flags of the
# project that includes this file: the cross builds and the native sanitizer and fuzzer builds.
#
# Defines kv_bzip2, kv_lzma, kv_zstd, kv_ppmd, kv_7zip, kv_deflate and kv_archive, and KV_THIRD_PARTY_VERSIONS (for the log).
# KV_ROOT must name the repository's root.

if(NOT KESTROVA_THIRD_PARTY)
    # The folder of this build, else the default build folder's (the 64-bit build lies inside it).
    if(EXISTS ${CMAKE_BINARY_DIR}/third_party/src)
        set(KESTROVA_THIRD_PARTY ${CMAKE_BINARY_DIR}/third_party/src)
    else()
        set(KESTROVA_THIRD_PARTY ${KV_ROOT}/build/third_party/src)
    endif()
endif()
set(KESTROVA_THIRD_PARTY ${KESTROVA_THIRD_PARTY} CACHE PATH
    "Folder with the unpacked Debian source packages bzip2, xz-utils, libzstd, p7zip, libdeflate and libarchive")

set(KV_THIRD_PARTY_VERSIONS "")
foreach(package bzip2 xz-utils libzstd p7zip libdeflate libarchive)
    if(NOT EXISTS ${KESTROVA_THIRD_PARTY}/${package}/.debian-version)
        message(FATAL_ERROR "The Debian source package ${package} is missing from ${KESTROVA_THIRD_PARTY}: "
                            "run `bash scripts/kestrova.sh sources` (or build through scripts/kestrova.sh), or "
                            "point -DKESTROVA_THIRD_PARTY at a folder holding it")
    endif()
    file(STRINGS ${KESTROVA_THIRD_PARTY}/${package}/.debian-version version LIMIT_COUNT 1)
    string(APPEND KV_THIRD_PARTY_VERSIONS " ${package} ${version}")
endforeach()
message(STATUS "Compression libraries from Debian's sources:${KV_THIRD_PARTY_VERSIONS}")

# Their own code is theirs: built without our warning set.
set(KV_THIRD_PARTY_FLAGS -w)

# libbz2, without stdio (no file functions, no messages to stderr). On Windows bzlib.h pulls in
# windows.h and declares stdcall functions; a copy of the sources in the build folder gets a bzlib.h
# that declares them as on every other system, for the library and its users alike.
set(bz ${CMAKE_BINARY_DIR}/third_party/bzip2)
set(bz_sources blocksort.c bzlib.c compress.c crctable.c decompress.c huffman.c randtable.c)
foreach(file ${bz_sources} bzlib_private.h)
    configure_file(${KESTROVA_THIRD_PARTY}/bzip2/${file} ${bz}/${file} COPYONLY)
endforeach()
file(READ ${KESTROVA_THIRD_PARTY}/bzip2/bzlib.h bz_header)
string(REPLACE "#ifdef _WIN32\n#   include <windows.h>" "#if 0\n" bz_header "${bz_header}")
if(NOT bz_header MATCHES "#if 0")
    message(FATAL_ERROR "bzlib.h of ${KESTROVA_THIRD_PARTY}/bzip2 has an unexpected form")
endif()
file(CONFIGURE OUTPUT ${bz}/bzlib.h CONTENT "${bz_header}" @ONLY)
list(TRANSFORM bz_sources PREPEND ${bz}/)
add_library(kv_bzip2 STATIC ${bz_sources})
target_compile_options(kv_bzip2 PRIVATE ${KV_THIRD_PARTY_FLAGS})
target_compile_definitions(kv_bzip2 PUBLIC BZ_NO_STDIO)
target_include_directories(kv_bzip2 SYSTEM PUBLIC ${bz})

# liblzma: the .xz stream decoder with its filters, the raw LZMA1 decoder and the .lzma (LZMA_Alone)
# decoder. Single-threaded.
set(xz ${KESTROVA_THIRD_PARTY}/xz-utils/src)
set(lz ${xz}/liblzma)
add_library(kv_lzma STATIC
    ${lz}/check/check.c ${lz}/check/crc32_fast.c ${lz}/check/crc32_table.c ${lz}/check/crc64_fast.c
    ${lz}/check/crc64_table.c ${lz}/check/sha256.c
    ${lz}/common/alone_decoder.c ${lz}/common/block_decoder.c ${lz}/common/block_header_decoder.c ${lz}/common/block_util.c
    ${lz}/common/common.c ${lz}/common/filter_common.c ${lz}/common/filter_decoder.c
    ${lz}/common/filter_flags_decoder.c ${lz}/common/index_hash.c ${lz}/common/stream_decoder.c
    ${lz}/common/stream_flags_common.c ${lz}/common/stream_flags_decoder.c ${lz}/common/vli_decoder.c
    ${lz}/common/vli_size.c
    ${lz}/delta/delta_common.c ${lz}/delta/delta_decoder.c
    ${lz}/lz/lz_decoder.c
    ${lz}/lzma/lzma_decoder.c ${lz}/lzma/lzma2_decoder.c
    ${lz}/rangecoder/price_table.c
    ${lz}/simple/simple_coder.c ${lz}/simple/simple_decoder.c ${lz}/simple/arm.c ${lz}/simple/arm64.c
    ${lz}/simple/armthumb.c ${lz}/simple/ia64.c ${lz}/simple/powerpc.c ${lz}/simple/sparc.c ${lz}/simple/x86.c)
target_compile_options(kv_lzma PRIVATE ${KV_THIRD_PARTY_FLAGS})
target_compile_definitions(kv_lzma PRIVATE
    HAVE_CHECK_CRC32 HAVE_CHECK_CRC64 HAVE_CHECK_SHA256 HAVE_DECODERS
    HAVE_DECODER_LZMA1 HAVE_DECODER_LZMA2 HAVE_DECODER_DELTA HAVE_DECODER_X86 HAVE_DECODER_ARM
    HAVE_DECODER_ARMTHUMB HAVE_DECODER_ARM64 HAVE_DECODER_IA64 HAVE_DECODER_POWERPC HAVE_DECODER_SPARC
    HAVE_STDBOOL_H HAVE__BOOL HAVE_STDINT_H HAVE_INTTYPES_H TUKLIB_FAST_UNALIGNED_ACCESS)
target_compile_definitions(kv_lzma PUBLIC LZMA_API_STATIC)
# In the Windows builds the CRC-64 of .xz checks uses the carry-less multiply where the processor
# has it, chosen at run time (the slice-by-four tables otherwise), as xz's own configure sets it up
# on x86. Not in the native sanitizer builds: it reads whole aligned 16-byte blocks around the
# data, which never crosses a page but which AddressSanitizer reports.
if(WIN32 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86_64)$")
    target_compile_definitions(kv_lzma PRIVATE HAVE_USABLE_CLMUL HAVE_CPUID_H HAVE_IMMINTRIN_H)
endif()
# lzma_code adds the offset 0 to a null input pointer when a caller (libarchive at the end of a
# stream) gives no input; well defined in practice, but UBSan's pointer-overflow check stops on it.
if(CMAKE_C_COMPILER_ID MATCHES "Clang")
    target_compile_options(kv_lzma PRIVATE -fno-sanitize=pointer-overflow)
endif()
target_include_directories(kv_lzma PRIVATE ${xz}/common ${lz}/common ${lz}/check ${lz}/delta ${lz}/lz
    ${lz}/lzma ${lz}/rangecoder ${lz}/simple)
target_include_directories(kv_lzma SYSTEM PUBLIC ${lz}/api)

# libzstd's decoder, without the legacy formats, threads, tracing or assembly.
set(zs ${KESTROVA_THIRD_PARTY}/libzstd/lib)
add_library(kv_zstd STATIC
    ${zs}/common/debug.c ${zs}/common/entropy_common.c ${zs}/common/error_private.c
    ${zs}/common/fse_decompress.c ${zs}/common/xxhash.c ${zs}/common/zstd_common.c
    ${zs}/decompress/huf_decompress.c ${zs}/decompress/zstd_ddict.c ${zs}/decompress/zstd_decompress.c
    ${zs}/decompress/zstd_decompress_block.c)
target_compile_options(kv_zstd PRIVATE ${KV_THIRD_PARTY_FLAGS})
target_compile_definitions(kv_zstd PRIVATE ZSTD_LEGACY_SUPPORT=0 ZSTD_DISABLE_ASM ZSTD_TRACE=0 XXH_NAMESPACE=ZSTD_)
target_include_directories(kv_zstd SYSTEM PUBLIC ${zs})

# PPMd variant I, revision 1: the decoder files of 7-Zip's C code (Ppmd8.c, Ppmd8Dec.c) only.
set(p7 ${KESTROVA_THIRD_PARTY}/p7zip/C)
add_library(kv_ppmd STATIC ${p7}/Ppmd8.c ${p7}/Ppmd8Dec.c)
target_compile_options(kv_ppmd PRIVATE ${KV_THIRD_PARTY_FLAGS})
target_include_directories(kv_ppmd SYSTEM PUBLIC ${p7})
# 7-Zip's own coders: LZMA and LZMA2 (faster than liblzma's, as 7-Zip itself decodes them),
# Zstandard (faster than libzstd's in the 32-bit build) with its XXH64, and for the 7z reader PPMd
# variant H, BCJ2, the branch converters and Delta.
add_library(kv_7zip STATIC ${p7}/LzmaDec.c ${p7}/Lzma2Dec.c ${p7}/ZstdDec.c ${p7}/Xxh64.c ${p7}/CpuArch.c
    ${p7}/Ppmd7.c ${p7}/Ppmd7Dec.c ${p7}/Bcj2.c ${p7}/Bra.c ${p7}/Bra86.c ${p7}/BraIA64.c ${p7}/Delta.c)
# They read 32-bit words at any address on x86 by design: the sanitizers' build lets them.
target_compile_options(kv_7zip PRIVATE ${KV_THIRD_PARTY_FLAGS} $<$<C_COMPILER_ID:Clang>:-fno-sanitize=alignment>)
target_include_directories(kv_7zip SYSTEM PUBLIC ${p7})

# libdeflate: its whole-buffer DEFLATE decompressor and its CRC-32 (with the CPU feature detection
# that picks the PCLMUL/SSE code paths at run time). Static, cdecl, the default allocator.
set(ld ${KESTROVA_THIRD_PARTY}/libdeflate)
add_library(kv_deflate STATIC ${ld}/lib/deflate_decompress.c ${ld}/lib/crc32.c ${ld}/lib/utils.c
    ${ld}/lib/x86/cpu_features.c)
target_compile_options(kv_deflate PRIVATE ${KV_THIRD_PARTY_FLAGS})
target_include_directories(kv_deflate PRIVATE ${ld})
target_include_directories(kv_deflate SYSTEM PUBLIC ${ld})

# libarchive: its readers of RAR 4 and 5, tar, cpio, CAB, ISO 9660 and raw data and its gzip, bzip2,
# xz/lzma and zstd filters, over the libraries above and the system's zlib, built by its own CMake
# files as a static library (kv_archive). No cryptography library, XML parser, iconv, ACLs or
# extended attributes; on Windows its hashes are the system's own (CNG, bcrypt.dll). Only what the
# core registers is linked in: the writers, and the filters that would start another program
# (registered only one by one, never through *_all), never reach a binary.
set(la ${KESTROVA_THIRD_PARTY}/libarchive)
foreach(option ENABLE_MBEDTLS ENABLE_NETTLE ENABLE_OPENSSL ENABLE_LIBB2 ENABLE_LZ4 ENABLE_LZO ENABLE_LIBXML2
               ENABLE_EXPAT ENABLE_PCREPOSIX ENABLE_LIBGCC ENABLE_TAR ENABLE_CPIO ENABLE_CAT ENABLE_XATTR ENABLE_ACL
               ENABLE_ICONV ENABLE_TEST ENABLE_COVERAGE ENABLE_INSTALL ENABLE_WERROR)
    set(${option} OFF CACHE BOOL "" FORCE)
endforeach()
set(POSIX_REGEX_LIB NONE CACHE STRING "" FORCE)
foreach(option ENABLE_ZLIB ENABLE_BZip2 ENABLE_LZMA ENABLE_ZSTD ENABLE_CNG)
    set(${option} ON CACHE BOOL "" FORCE)
endforeach()
# Its find modules take the libraries of this build. Their link checks run before these are built
# (and liblzma here has no encoder), so their answers are given: the decoders are there.
find_library(ZLIB_LIBRARY NAMES libz.a z)
set(BZIP2_INCLUDE_DIR ${bz} CACHE PATH "" FORCE)
set(BZIP2_LIBRARIES kv_bzip2)
set(BZIP2_NEED_PREFIX 1 CACHE INTERNAL "")
set(LIBLZMA_INCLUDE_DIR ${lz}/api CACHE PATH "" FORCE)
set(LIBLZMA_LIBRARY kv_lzma CACHE STRING "" FORCE)
foreach(check LIBLZMA_HAS_AUTO_DECODER LIBLZMA_HAS_EASY_ENCODER LIBLZMA_HAS_LZMA_PRESET)
    set(${check} 1 CACHE INTERNAL "")
endforeach()
set(ZSTD_INCLUDE_DIR ${zs} CACHE PATH "" FORCE)
set(ZSTD_LIBRARY kv_zstd CACHE STRING "" FORCE)
set(HAVE_LIBZSTD 1 CACHE INTERNAL "")
set(HAVE_LIBZSTD_COMPRESSOR 0 CACHE INTERNAL "")
# Windows: the macros its libraries need are known (static bzip2 and liblzma, no DLL imports).
foreach(check USE_BZIP2_DLL USE_BZIP2_STATIC WITHOUT_LZMA_API_STATIC LZMA_API_STATIC)
    set(${check}_WITH_LIB "${BZIP2_LIBRARIES}" CACHE INTERNAL "")
    set(${check} "" CACHE INTERNAL "")
endforeach()
set(WITHOUT_LZMA_API_STATIC_WITH_LIB kv_lzma CACHE INTERNAL "")
set(LZMA_API_STATIC_WITH_LIB kv_lzma CACHE INTERNAL "")
# Its configuration checks compile, never run, programs.
set(kv_emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
set(CMAKE_CROSSCOMPILING_EMULATOR "")
add_subdirectory(${la} ${CMAKE_BINARY_DIR}/third_party/libarchive EXCLUDE_FROM_ALL)
set(CMAKE_CROSSCOMPILING_EMULATOR "${kv_emulator}")
target_compile_options(archive_static PRIVATE ${KV_THIRD_PARTY_FLAGS})
# Its CMake builds every writer and every format; only the readers registered here are compiled.
get_target_property(la_sources archive_static SOURCES)
list(FILTER la_sources EXCLUDE REGEX
    "(^|/)archive_(write|read_disk|read_extract|match|disk_acl|read_open_|read_data_into_fd|read_append_filter|cmdline|getdate|pathmatch|pack_dev|entry_copy_bhfi|entry_link_resolver|ppmd8|cryptor|hmac|read_set_format)[^/]*\\.c$")
list(FILTER la_sources EXCLUDE REGEX
    "(^|/)archive_read_support_(format_(7zip|all|ar|by_code|empty|lha|mtree|warc|xar|zip)|filter_(all|by_code|compress|grzip|lrzip|lz4|lzop|program|rpm|uu))\\.c$")
list(FILTER la_sources EXCLUDE REGEX "(^|/)filter_fork_[^/]*\\.c$")
set_property(TARGET archive_static PROPERTY SOURCES ${la_sources})
add_library(kv_archive INTERFACE)
target_link_libraries(kv_archive INTERFACE archive_static)
target_compile_definitions(kv_archive INTERFACE LIBARCHIVE_STATIC)
target_include_directories(kv_archive SYSTEM INTERFACE ${la}/libarchive)
# What the reader asks of an entry beyond libarchive's interface (unzip32/core/LibarchiveNameForms.c).
target_sources(archive_static PRIVATE ${KV_ROOT}/unzip32/core/LibarchiveNameForms.c)
