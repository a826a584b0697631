/* UNZIP32.DLL: the public interface of Kestrova's ZIP extraction library.
 *
 * One entry point, Wiz_SingleEntryUnzip, lists or extracts one archive per call. The caller owns
 * every record and text it passes; the library keeps nothing after the call returns. Callbacks are
 * made synchronously on the calling thread, during the call. All functions and callbacks use the
 * Windows API calling convention. The record sizes given below are those of the 32-bit library. */
#ifndef KESTROVA_UNZIP32_H
#define KESTROVA_UNZIP32_H

#ifdef _WIN32
#include <windows.h>
#define UZ_API WINAPI
#else
#define UZ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of Wiz_SingleEntryUnzip. */
#define UZ_OK             0  /* every member listed or extracted */
#define UZ_WARNING        1  /* members skipped (unsafe name, unsupported method, encryption, path blocked, a file
                              * kept by overwriteAll 0), renamed, files that could not be given the archive's
                              * mark of the web */
#define UZ_FORMAT_ERROR   2  /* damaged archive or member data (CRC or size mismatch, bad data) */
#define UZ_SEVERE_ERROR   3  /* not an archive, truncated, unusable directory, overlapping records, split archive */
#define UZ_MEMORY_INIT    4  /* buffers could not be allocated at start */
#define UZ_PASSWORD       5  /* encrypted members were skipped: no password, or three wrong ones */
#define UZ_MEMORY_DISK    6  /* memory ran out while extracting to disk */
#define UZ_MEMORY_INFLATE 7  /* memory ran out while inflating */
#define UZ_NOT_FOUND      9  /* the archive file could not be opened */
#define UZ_NO_MATCH       11 /* nothing in the archive matched the selection */
#define UZ_BAD_ARGUMENT   10 /* invalid option or callback record */
#define UZ_DISK_FULL      50 /* the disk is full, or a folder or file could not be created or written */
#define UZ_STOPPED        80 /* the service callback stopped the run */
#define UZ_INTERNAL       99 /* unexpected internal failure */

/* A ZIP archive whose end record or central directory is missing or unreadable (a download cut
 * short, a directory overwritten) is read by its local records from the start of the file: each
 * member whose data is all there and decodes to its CRC and size (where a data descriptor gives
 * them, there) is listed, tested or extracted; what cannot be proved is skipped and no partial file
 * stays. The run ends with the line "The archive is damaged: N of its files were recovered."
 * through the print callback (quietLevel below 2; when listing, N is the count that can be
 * recovered) and the result is UZ_SEVERE_ERROR; where not one member can be proved, the archive
 * fails as any unreadable one, with its own message. Up to 16 MiB of data after the end record (a
 * signature block, a second payload) is passed over: the archive is read as a whole. */

/* The option record: fifteen 32-bit switches, then the archive path and the target folder. */
typedef struct UnzipOptions {
    int extractOnlyNewer;   /*  0: extract only newer files, without queries (ignored) */
    int spacesToUnderscore; /*  4: turn spaces in names into underscores */
    int promptToOverwrite;  /*  8: prompt before overwriting (never: this library never prompts) */
    int quietLevel;         /* 12: 0 reports every member and problem through the print callback */
    int toStandardOutput;   /* 16: write members to standard output (not supported; ignored) */
    int testArchive;        /* 20: test the archive: decode and check, write nothing */
    int listMembers;        /* 24: list members through the member callback instead of extracting */
    int updateOnly;         /* 28: extract only newer files, with queries (ignored) */
    int showComment;        /* 32: report the archive comment through the print callback */
    int keepFolders;        /* 36: recreate the stored folder structure (0: all files into the target) */
    int overwriteAll;       /* 40: what becomes of a file or folder that is in the target under a
                             *     member's file name before the call (names equal as Windows compares
                             *     them: "A.txt" and "a.txt", "x.pdf " and "x.pdf"):
                             *     1  overwrite: the file is replaced, a read-only one too; a folder
                             *        stays as it is and the member is skipped ("skipping:" line,
                             *        UZ_WARNING); any other value but 0 and 2 means 1
                             *     0  keep it: the member is skipped, the line "skipping: NAME (a file
                             *        or folder of that name was there before: kept as it was)"
                             *        through the print callback tells so, and the result is UZ_WARNING
                             *     2  keep both: the member's file is written as "a (2).txt" (" (3)"...,
                             *        the first name free), a "keeping both:" line tells the new
                             *        name, and the result stays UZ_OK
                             *     A folder member merges with a folder that is there, whatever the
                             *     value. Whatever the value, a member whose file would replace one
                             *     this call wrote is written as "a (2).txt" (" (3)"... until a name
                             *     is free), a "renamed:" line tells so, and the result is
                             *     UZ_WARNING. */
    int translateLineEnds;  /* 44: end-of-line translation (ignored) */
    int archiveInfo;        /* 48: archive-information mode (ignored) */
    int caseInsensitive;    /* 52: exclusion masks match case-insensitively */
    int restoreSecurity;    /* 56: restore security information (ignored) */
    const char* archive;    /* 60: path of the archive, in the ANSI code page */
    const char* target;     /* 64: folder to extract into; null or empty: the current folder.
                             *     A bare drive ("C:") means that drive's root folder. */
} UnzipOptions;

typedef int(UZ_API* UnzipPrintCallback)(const char* text, unsigned long length);
typedef void(UZ_API* UnzipSoundCallback)(void);
typedef int(UZ_API* UnzipReplaceCallback)(const char* fileName);
typedef int(UZ_API* UnzipPasswordCallback)(char* buffer, int size, const char* prompt, const char* archive);
/* One member of a listing: sizes (low 32 bits), the share saved in whole percent, the DOS date and
 * time, a marker, the member's name in the ANSI code page, the method name, its CRC-32 and an
 * encryption marker ('E' for an encrypted member, ' ' otherwise). */
typedef void(UZ_API* UnzipMemberCallback)(unsigned long size, unsigned long packedSize, unsigned factor, unsigned month,
    unsigned day, unsigned year, unsigned hour, unsigned minute, char marker, const char* name, const char* method,
    unsigned long crc, char encrypted);
/* Called on the calling thread before each member is listed or extracted, with its name and size
 * (low 32 bits), and again with the same name and size after each further UZ_SERVICE_STEP bytes
 * written for that member and about every quarter of a second while it is decoded (after each
 * piece of output, a MiB at most), so that a caller can stop inside a long or slow member too. A nonzero answer
 * stops the run: the member being written is removed (no partial file stays under its name; a file
 * it was to replace stays as it was), the members already extracted stay, no further member is
 * started, and Wiz_SingleEntryUnzip returns UZ_STOPPED. */
#define UZ_SERVICE_STEP (8ul << 20)
typedef int(UZ_API* UnzipServiceCallback)(const char* name, unsigned long size);

/* The password callback (offset 12 of the callback record). Encrypted members (PKWARE's traditional
 * encryption, "ZipCrypto", and WinZip AES-128/192/256, AE-1 and AE-2) are decrypted when the
 * callback gives their password. When testing or extracting, the library calls it on the calling
 * thread once for each encrypted member, before anything is written for that member:
 *   buffer, size  where the password goes: size is 256, and the buffer has one more byte that the
 *                 library keeps 0, so a password that fills all 256 bytes still ends there
 *   prompt        the member's name as the member callback lists it
 *   archive       the archive's path as given in the option record
 * It returns 0 with a NUL-terminated password in the buffer (its bytes are used as they stand; when
 * the member's check rejects them and they are UTF-8 text beyond ASCII, the same text written in the
 * ANSI and then the OEM code page of the user's locale is tried too, as older writers stored it,
 * without asking again), or
 * any other value for "no password": the member is skipped and the run's result is UZ_PASSWORD. A
 * null callback means "no password" for every member. A password that the member's check rejects
 * (the check byte of the traditional header, the verifier of AES) makes the library ask again for
 * the same member, three times at most; then the member is skipped as without a password. A member
 * whose data then fails its CRC or its AES authentication code is damaged: its file is deleted and
 * the result is UZ_FORMAT_ERROR. Listing never asks. The library wipes the buffer after the call
 * and keeps neither the password nor the keys made from it after the member is done.
 * PKWARE's strong encryption (flag bit 6) and encrypted central directories (flag bit 13) are not
 * decoded: such members are skipped with a message and the result is UZ_WARNING. */

/* The callback record. Null callbacks are not called. The totals are filled in by the library. */
typedef struct UnzipCallbacks {
    UnzipPrintCallback print;       /*  0 */
    UnzipSoundCallback sound;       /*  4 */
    UnzipReplaceCallback replace;   /*  8 */
    UnzipPasswordCallback password; /* 12 */
    UnzipMemberCallback member;     /* 16 */
    UnzipServiceCallback service;   /* 20: called per member and per UZ_SERVICE_STEP written; nonzero stops */
    unsigned long totalPacked;      /* 24 */
    unsigned long totalSize;        /* 28 */
    int totalFactor;                /* 32 */
    int memberCount;                /* 36 */
    unsigned commentLength;         /* 40 */
} UnzipCallbacks;

#if defined(__cplusplus) && defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(UnzipOptions) == 68, "the option record is 68 bytes");
static_assert(sizeof(UnzipCallbacks) == 44, "the callback record is 44 bytes");
#endif

/* Lists or extracts one archive.
 * includeCount/includeNames: members to take (0 and null: all); excludeCount/excludeNames: masks of
 * members to leave out ('*' and '?' wildcards over the whole stored name, '/' and '\' alike).
 * Returns one of the UZ_ codes above. */
typedef int(UZ_API* WizSingleEntryUnzipFunction)(int includeCount, char** includeNames, int excludeCount,
    char** excludeNames, UnzipOptions* options, UnzipCallbacks* callbacks);
int UZ_API Wiz_SingleEntryUnzip(int includeCount, char** includeNames, int excludeCount, char** excludeNames,
    UnzipOptions* options, UnzipCallbacks* callbacks);

/* Names stored without Unicode (no UTF-8 flag, no valid Unicode path extra) are bytes in a legacy
 * code page. Wiz_SingleEntryUnzip reads them in the OEM code page of the user's locale, as Windows'
 * Explorer does. Wiz_SingleEntryUnzipNames does the same as Wiz_SingleEntryUnzip with the page
 * chosen by the caller:
 *   UZ_NAMES_AUTOMATIC  the page that makes all of the archive's legacy names most plausible; the
 *                       user's OEM page whenever the evidence is weak or even
 *   UZ_NAMES_AS_WINDOWS the OEM code page of the user's locale (what Wiz_SingleEntryUnzip does)
 *   any other value     that code page (437, 850, 866, 932, 936, 1251, ...); an unknown page
 *                       gives UZ_BAD_ARGUMENT
 * A caller that may load an older library looks the entry point up and falls back to
 * Wiz_SingleEntryUnzip when it is missing. */
#define UZ_NAMES_AUTOMATIC  0u
#define UZ_NAMES_AS_WINDOWS 1u
typedef int(UZ_API* WizSingleEntryUnzipNamesFunction)(int includeCount, char** includeNames, int excludeCount,
    char** excludeNames, UnzipOptions* options, UnzipCallbacks* callbacks, unsigned namePage);
int UZ_API Wiz_SingleEntryUnzipNames(int includeCount, char** includeNames, int excludeCount, char** excludeNames,
    UnzipOptions* options, UnzipCallbacks* callbacks, unsigned namePage);

/* The mark of the web. Windows marks a downloaded file with a "Zone.Identifier" stream, an INI text
 * whose [ZoneTransfer] section names the zone it came from (ZoneId=3 the Internet, 4 Restricted
 * sites) and where from (HostUrl=...). When the archive has such a mark of zone 3 or 4, every file
 * extracted from it gets a Zone.Identifier stream of its own with the same ZoneId, the archive's
 * HostUrl (when it has one) and ReferrerUrl set to the archive's full path, in the ANSI code page:
 * Office opens such files in Protected View and SmartScreen checks such programs before they run,
 * as it does for the files Explorer extracts. The stream is written when the file is complete under
 * its real name, before the file is reported extracted. An archive extracted from a marked archive
 * is thus marked itself, and its own files are marked in turn. Marks of zones 0 to 2 (this computer,
 * the intranet, trusted sites), a missing mark and one that cannot be read carry nothing, as in
 * Explorer. For an archive split into volumes the mark of the first volume counts (the named file's
 * where the first has none to carry). Listing and testing write nothing. Folders are not marked.
 * A file that cannot be marked (a FAT or exFAT drive or a network share without streams, where the
 * drive refuses the stream's name; a write that fails) stays as extracted, since it is whole and
 * what the caller asked for, but the loss of its protection is not silent: the line
 * "not marked: <file> (<reason>)" goes through the print callback (quietLevel below 2), the reason
 * "the drive cannot keep the mark of the web" where the drive has no streams, and the run's result
 * is at least UZ_WARNING (any graver result stands).
 * Wiz_SingleEntryUnzip and Wiz_SingleEntryUnzipNames always carry the mark: a caller that says
 * nothing gets it, as with Windows. Wiz_SingleEntryUnzipEx lets the caller choose. */

/* The run options of Wiz_SingleEntryUnzipEx. `size` is sizeof(UnzipRunOptions): the record may grow
 * in later libraries, which will take the sizes of earlier ones; this library refuses any other size
 * with UZ_BAD_ARGUMENT, so that no caller takes an option it set for honoured when it is not.
 *   namePage      the code page of names without Unicode, as for Wiz_SingleEntryUnzipNames
 *                 (UZ_NAMES_AUTOMATIC, UZ_NAMES_AS_WINDOWS or a code page)
 *   markOfTheWeb  nonzero: carry the archive's mark of the web onto the files (the default of the
 *                 other entry points); 0: mark nothing */
typedef struct UnzipRunOptions {
    unsigned size;      /* 0 */
    unsigned namePage;  /* 4 */
    int markOfTheWeb;   /* 8 */
} UnzipRunOptions;

#if defined(__cplusplus) && defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(UnzipRunOptions) == 12, "the run option record is 12 bytes");
#endif

/* Does what Wiz_SingleEntryUnzipNames does with the options of `run`; a null `run` does what
 * Wiz_SingleEntryUnzip does (names as Windows reads them, the mark carried). A caller that may load
 * an older library looks the entry point up and falls back to Wiz_SingleEntryUnzipNames, then to
 * Wiz_SingleEntryUnzip, which mark files (or, in libraries older than the mark, do not). */
typedef int(UZ_API* WizSingleEntryUnzipExFunction)(int includeCount, char** includeNames, int excludeCount,
    char** excludeNames, UnzipOptions* options, UnzipCallbacks* callbacks, const UnzipRunOptions* run);
int UZ_API Wiz_SingleEntryUnzipEx(int includeCount, char** includeNames, int excludeCount, char** excludeNames,
    UnzipOptions* options, UnzipCallbacks* callbacks, const UnzipRunOptions* run);

#ifdef __cplusplus
}
#endif

#endif
