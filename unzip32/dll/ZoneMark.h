#pragma once
#include <windows.h>

#include "unzip32/dll/Win32Threads.h"

#include <string>
#include <utility>
#include <vector>

namespace unzip {

// The mark of the web that Windows gives a downloaded file (its Zone.Identifier stream), carried
// from an archive onto each file extracted from it, as Explorer does. Files may be marked on worker
// threads; the names of those that could not be are kept for the calling thread to report.
class ZoneMark {
public:
    ZoneMark() = default;
    ZoneMark(const ZoneMark&) = delete;
    ZoneMark& operator=(const ZoneMark&) = delete;

    // Reads the stream of `marked` (the archive, or a split set's first volume). A mark of the
    // Internet (3) or Restricted (4) zone is carried, its HostUrl kept and `referrer` (the archive's
    // full path) given as the files' ReferrerUrl; any other zone, a missing stream or one that
    // cannot be read carries nothing.
    void Read(const std::wstring& marked, const std::wstring& referrer);
    bool Carried() const { return !text_.empty(); }

    // Gives the file `path` the mark; `shown` names it in a report when that fails. The file stays
    // either way.
    void Put(const std::wstring& path, const std::wstring& shown);

    // The files that could not be marked since the last call, each with the reason, as a line
    // "not marked: name (reason)".
    std::vector<std::string> TakeFailures();
    // All the files that could not be marked in the run (asked once its workers are done).
    int Failures() const { return failures_; }

private:
    std::string text_;  // the stream each file gets; empty: nothing to carry
    Win32Lock lock_;
    std::vector<std::pair<std::wstring, DWORD>> failed_;  // shown name, error; not yet reported
    int failures_ = 0;
};

}  // namespace unzip
