#pragma once
// Every text of kvupdate.exe that a user reads outside its dialog template: the button's captions,
// the labels set at run time and the messages. Kept together so that a wording is changed in one
// place and reviewed beside its neighbours. The status log's lines and the failed download's
// message stay in the string table (kvupdate.rc) under their published ids (105 + status code,
// 131 to 133): a translated kvupdate replaces them there.

namespace texts {

// Update dialog.
constexpr char kUpdateCaption[] = "Update";
constexpr char kStopCaption[] = "Stop";
constexpr char kInstalledPrefix[] = " Installed Version: ";
constexpr char kLatestPrefix[] = " Latest Version: ";
constexpr char kNoPercent[] = "0%";

// Messages.
constexpr char kNoConnection[] = "Please connect to the Internet.";
constexpr char kWorkerFailed[] = "Download Failed!";
constexpr char kNewVersion[] = "New Version Detected! \nPlease make sure you have closed Kestrova.";
constexpr char kLatestVersion[] = "You have the lastest version.";
constexpr char kComplete[] = "Download Complete!";
constexpr char kNoTarget[] =
    "Update Failed!\n\nThe location of the installed program is not known. Run Kestrova once on this "
    "machine, then try again.";
constexpr char kNotSigned[] =
    "Update Failed!\n\nThe download is not signed by Kestrova. The installed program was left as it was.";
constexpr char kNotAProgram[] =
    "Update Failed!\n\nThe downloaded file is not a program. The installed program was left as it was.";
#ifdef _WIN64
constexpr char kOtherBuild[] =
    "Update Failed!\n\nThe downloaded program is not the 64-bit one this installation needs. The "
    "installed program was left as it was.";
#else
constexpr char kOtherBuild[] =
    "Update Failed!\n\nThe downloaded program is not the 32-bit one this installation needs. The "
    "installed program was left as it was.";
#endif
constexpr char kNotReplaced[] =
    "Update Failed!\n\nThe installed program could not be replaced; it was left as it was.\nPlease make "
    "sure you have closed Kestrova and try again.";
constexpr char kRestoreFailed[] =
    "Update Failed!\n\nThe installed program could not be replaced. The previous copy was kept as:\n";
constexpr char kOlderVersion[] =
    "Update Failed!\n\nThe update is version %s, older than the installed version %s. "
    "The installed program was left as it was.";
constexpr char kFolderNotWritable[] =
    "Update Failed!\n\nThe folder of the installed program cannot be written:\n%s\n"
    "The installed program was left as it was.";
constexpr char kElevationDeclined[] =
    "Update Failed!\n\nAdministrator rights are needed to replace the installed program in:\n%s\n"
    "They were not given. The installed program was left as it was.";
constexpr char kNotWritableElevated[] =
    "Update Failed!\n\nThe folder of the installed program cannot be written, not even with administrator "
    "rights:\n%s\nThe installed program was left as it was.";

}  // namespace texts
