#pragma once
// Every text of kestrova.exe that a user reads outside its dialog templates: messages, labels set
// at run time, tab names, the summary and the library's result texts. Kept together so that a
// wording is changed in one place and reviewed beside its neighbours.

namespace texts {

// Main window and explorer pane.
constexpr char kObjectCount[] = " Object(s)";
constexpr char kNoDisk[] = "Please Insert Disk & Refresh";
constexpr char kSelectFileToView[] = "Please select a file to view!";
constexpr char kOneFileToView[] = "Only able to view one file at a time!";
constexpr char kNothingToRemove[] = "No files to remove from Extraction List!";
constexpr char kSearching[] = "Searching Folder && Sub-Folders For Archives: \n";
constexpr char kNotQueued[] = "These are neither archives nor folders and were not queued:";

// Extraction run.
constexpr char kPickerTitle[] = "Select the folder in where the selected archives will be extracted to:";
constexpr char kPickerDefaultTitle[] = "Open";
constexpr char kSummaryHeading[] = "Files extracted: \n\n";
// A failed archive's line ends with its reason: " (failed: archive not found or cannot be opened)".
constexpr char kSummaryFailedBefore[] = " (failed: ";
constexpr char kSummaryFailedAfter[] = ")";
constexpr char kSummarySkipped[] = " (some files skipped)";
constexpr char kSummaryMoreBefore[] = " and ";
constexpr char kSummaryMoreAfter[] = " more";
constexpr char kSummaryStopped[] = " (stopped)";
constexpr char kStopQuestion[] = "Stop the extraction?";
// The caption during a run: "Kestrova - 3 of 20".
constexpr char kRunCaptionBefore[] = " - ";
constexpr char kRunCaptionOf[] = " of ";
// The summary's mark of an archive whose encrypted members the user chose to skip.
constexpr char kSummaryNoPassword[] = " (skipped: no password)";
constexpr char kRunNotStarted[] =
    "The extraction could not be started: Windows could not create a thread for it. Close other programs and try again.";
// The password prompt's two lines: the member, then its archive.
constexpr char kPasswordFor[] = "Password for ";
constexpr char kPasswordIn[] = "in ";
// Above the password field when the password typed before did not open the member.
constexpr char kPasswordWrong[] = "Wrong password. Try again:";

// The extraction library's results (the unzip32.h codes) and its loading.
constexpr char kResultSkipped[] = "Files in archived were skipped.";
constexpr char kResultGenericError[] = "Generic error in zip format.";
constexpr char kResultSevereError[] = "Severe error in zip format.";
constexpr char kResultNoMemoryAtStart[] = "Unable to allocate memory for one or more buffers during initialization.";
constexpr char kResultNoPassword[] = "Unable to retrive password.";
constexpr char kResultNoMemoryToDisk[] = "Unable to allocate memory during decompression to disk.";
constexpr char kResultNoMemoryInMemory[] = "Unable to allocate memory during in-memory decompression.";
constexpr char kResultNotFound[] = "Archive not found or cannot be opened.";
constexpr char kResultBadOptions[] = "Invalid options.";
constexpr char kResultNoMatch[] = "No files matched.";
constexpr char kResultCannotWrite[] = "The destination folder or disk cannot be written (disk full or read-only).";
constexpr char kResultInternal[] = "Internal error.";
// A damaged archive (result 3) of which the library recovered what it could: the count goes between.
constexpr char kResultDamagedBefore[] = "The archive is damaged: ";
constexpr char kResultDamagedAfter[] = " of its files were recovered.";
constexpr char kResultUnexpectedBefore[] = "Unexpected result ";
constexpr char kResultUnexpectedAfter[] = " from the extraction library.";
// Reasons in summary lines where the library's result text does not apply.
constexpr char kReasonNotCalled[] = "the extraction library could not be used";
constexpr char kReasonNotQueued[] = "neither an archive nor a folder";
constexpr char kLibraryMissing[] =
    "Cannot find %s. The Dll must be in the application directory, the path, the "
    "Windows directory or the Windows System directory.";
constexpr char kLibraryNotLoaded[] = "Cannot load ";
constexpr char kLibraryNoEntryPoint[] = " has no entry point ";

// Settings dialog.
constexpr char kTabGeneral[] = "General";
constexpr char kTabMasking[] = "File Masking";
constexpr char kTabAbout[] = "About";
constexpr char kCurrentVersion[] = "Current Version: ";
// The choices of "Names in archives without Unicode:": "Automatic", "As Windows (866 Cyrillic (DOS))",
// then each page as "866 — Cyrillic (DOS)".
constexpr char kNamesAutomatic[] = "Automatic";
constexpr char kNamesAsWindowsBefore[] = "As Windows (";
constexpr char kNamesAsWindowsAfter[] = ")";
constexpr char kNamesPageDash[] = " \u2014 ";
// The choices of "When A File Exists:", in the order of their stored values "0", "1", "2".
constexpr char kExistingOverwrite[] = "Overwrite";
constexpr char kExistingSkip[] = "Skip";
constexpr char kExistingKeepBoth[] = "Keep Both";
constexpr char kAbout[] =
    "Kestrova\r\n"
    "Finds ZIP archives on your drives and extracts them in batches.\r\n"
    "\r\n"
    "Written by the Kestrova author.\r\n"
    "E-mail: author@kestrova.org\r\n"
    "Web: https://www.kestrova.org/\r\n"
    "\r\n"
    "Use the buttons at the bottom of the main window to write to the author or to visit the "
    "web page for updates.";

}  // namespace texts
