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

// Strings: status texts of the download service, id = IDS_STATUS_BASE + status code (1 to 24;
// every other code is shown as IDS_STATUS_UNKNOWN)
#define IDS_STATUS_BASE                      105
#define IDS_STATUS_FINDING_RESOURCE          106
#define IDS_STATUS_CONNECTING                107
#define IDS_STATUS_REDIRECTING               108
#define IDS_STATUS_BEGIN_DOWNLOAD_DATA       109
#define IDS_STATUS_DOWNLOADING_DATA          110
#define IDS_STATUS_END_DOWNLOAD_DATA         111
#define IDS_STATUS_BEGIN_DOWNLOAD_COMPONENTS 112
#define IDS_STATUS_INSTALLING_COMPONENTS     113
#define IDS_STATUS_END_DOWNLOAD_COMPONENTS   114
#define IDS_STATUS_USING_CACHED_COPY         115
#define IDS_STATUS_SENDING_REQUEST           116
#define IDS_STATUS_CLASSID_AVAILABLE         117
#define IDS_STATUS_MIMETYPE_AVAILABLE        118
#define IDS_STATUS_CACHE_FILENAME_AVAILABLE  119
#define IDS_STATUS_BEGIN_SYNC_OPERATION      120
#define IDS_STATUS_END_SYNC_OPERATION        121
#define IDS_STATUS_BEGIN_UPLOAD_DATA         122
#define IDS_STATUS_UPLOADING_DATA            123
#define IDS_STATUS_END_UPLOAD_DATA           124
#define IDS_STATUS_PROTOCOL_CLASSID          125
#define IDS_STATUS_ENCODING                  126
#define IDS_STATUS_VERIFIED_MIMETYPE         127
#define IDS_STATUS_CLASS_INSTALL_LOCATION    128
#define IDS_STATUS_DECODING                  129
#define IDS_STATUS_UNKNOWN                   130
#define IDS_PROGRESS_COUNT                   131
#define IDS_DOWNLOAD_FAILED                  132
#define IDS_CANCELED                         133
