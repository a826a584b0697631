#pragma once
// Resource ids of kvupdate.exe. The numbers are fixed: tests and the program's own design refer
// to them.

// Update dialog (dialog 102)
#define IDD_UPDATE           102
#define IDC_UPDATE_ACTION    1  // the dialog's OK command: "Update" or "Stop"
#define IDC_UPDATE_LOG       1001
#define IDC_UPDATE_LATEST    1003
#define IDC_UPDATE_INSTALLED 1004
#define IDC_UPDATE_PROGRESS  1005
#define IDC_UPDATE_PERCENT   1006

// Icons
#define IDI_KVUPDATE 129
