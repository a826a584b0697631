#pragma once
#include "framework/Owned.h"

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

class PasswordSession;
// What a run tells the one who started it, and asks of it; called on the thread that runs Unzip.
class RunListener {
public:
    virtual ~RunListener() = default;
    // A failure the user must see; returns once it has been seen.
    virtual void ShowFailure(const std::string& text) = 0;
    // The library is at the member `name` of `size` bytes (low 32 bits), and again after each
    // further UZ_SERVICE_STEP bytes written of it. True stops the run: the member being written
    // is removed and Unzip ends with the result UZ_STOPPED and no message.
    virtual bool AtMember(const char* name, unsigned long size) = 0;
};

// One run of the extraction library on one archive, in extract or list mode. The library is found
// and loaded for the run and unloaded after it; a failure is shown to the user in a message box.
class UnzipEngine {
public:
    UnzipEngine();
    UnzipEngine(const UnzipEngine&) = delete;
    UnzipEngine& operator=(const UnzipEngine&) = delete;

    // Lists (listMode) or extracts `archive` into `target` (null: none given), leaving out the
    // members that match the exclusion names. Returns 1 when the library reported success, else 0.
    // A damaged archive whose members the library found without its directory lists those it can
    // recover, without a message, and returns 1; extracting it reports how many were recovered.
    // Members skipped only because the files under their names were kept (SetExistingFiles 1) are
    // the user's choice: the result is 1 (some files skipped), shown in no message.
    int Unzip(const std::string& archive, const char* target, char** excludeNames, int excludeCount, bool listMode);

    // The run's passwords, asked for encrypted members during Unzip; without them (the default)
    // every encrypted member is skipped. The session must outlive the Unzip call.
    void SetPasswords(PasswordSession* passwords) { passwords_ = passwords; }
    // Failures go to `listener` instead of message boxes, and it is asked at every member whether
    // to go on (null: message boxes, never stopped). The listener must outlive the Unzip calls.
    void SetListener(RunListener* listener) { listener_ = listener; }
    // The code page of member names stored without Unicode (UZ_NAMES_AUTOMATIC, the default,
    // UZ_NAMES_AS_WINDOWS or a page number). A library without Wiz_SingleEntryUnzipNames is called
    // the old way and reads such names as Windows does, whatever was set.
    void SetNamePage(unsigned namePage) { namePage_ = namePage; }
    // Whether the files extracted carry the archive's mark of the web (the default). Only a library
    // with Wiz_SingleEntryUnzipEx can be told not to; the others are called as they are.
    void SetMarkOfTheWeb(bool mark) { markOfTheWeb_ = mark; }
    // What becomes of a file that is in the target under a member's name before the run, as the
    // settings store it: 0 overwrite (the default), 1 skip the member, 2 keep both (the member's
    // file is numbered, "a (2).txt"). Listing ignores it.
    void SetExistingFiles(int choice) { existingFiles_ = choice; }

    // The library's result of the last run (0 success, else one of its UZ_ codes); kNotCalled when
    // the library could not be found, loaded or called.
    static constexpr int kNotCalled = -1;
    int GetResult() const { return result_; }
    // True when the last run's only trouble was members the user chose to skip at the password
    // prompt (result UZ_PASSWORD): that is not reported as a failure.
    bool PasswordSkipped() const { return passwordSkipped_; }

    // The files the library recovered from a damaged archive in the last run (listed: that it can
    // recover); -1 when the archive was read as a whole or not at all.
    int Recovered() const { return recovered_; }

    int GetMemberCount() const { return memberCount_; }
    std::string GetMemberName(int i) const;
    std::string GetMemberSize(int i) const;
    std::string GetMemberPackedSize(int i) const;
    std::string GetMemberRatio(int i) const;

    // The message shown for a nonzero library result; codes the library does not document get a
    // text that names the code.
    static std::string ResultText(int result);
    // The same as a reason within a line: "the destination folder or disk cannot be written".
    static std::string ResultReason(int result);
    // The last run's failure as a reason within a line, the count of a damaged archive's recovered
    // files included.
    std::string Reason() const;

private:
    void Report(const std::string& text) const;

    int memberCount_ = 0;
    RunListener* listener_ = nullptr;
    int result_ = kNotCalled;
    int recovered_ = -1;
    bool passwordSkipped_ = false;
    fw::OwnedModule library_;
    FARPROC entryPoint_ = nullptr;
    PasswordSession* passwords_ = nullptr;
    unsigned namePage_ = 0;
    bool markOfTheWeb_ = true;
    int existingFiles_ = 0;
};

}  // namespace engine
