/* Which forms of an entry's names libarchive holds as it read them: the bytes as stored (MBS), or
 * text it decoded because the format says what the bytes are (UTF-8, wide characters). The reader
 * asks before anything converts a name, so that stored bytes are read as legacy names in the
 * user's code page and decoded text is kept exact. The forms are not part of libarchive's
 * interface: this file is compiled into its library, with its own configuration. */
#include "archive_platform.h"

#include "archive_entry_private.h"

int kv_archive_entry_name_forms(struct archive_entry *entry, int which)
{
    switch (which) {
    case 0: return entry->ae_pathname.aes_set;
    case 1: return entry->ae_hardlink.aes_set;
    default: return entry->ae_symlink.aes_set;
    }
}
