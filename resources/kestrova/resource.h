#pragma once
// Resource ids of kestrova.exe. The numbers are fixed: stored settings, tests and the program's
// own design refer to them.

// Main window (dialog 102)
#define IDD_MAIN            102
#define IDC_MAIN_EXPLORER   1000
#define IDC_MAIN_UP         1004
#define IDC_MAIN_DESKTOP    1005
#define IDC_MAIN_EXTRACTION 1006
#define IDC_MAIN_REFRESH    1007
#define IDC_MAIN_DELETE     1008
#define IDC_MAIN_VIEW       1009
#define IDC_MAIN_PROGRESS   1010
#define IDC_MAIN_SEARCH     1011
#define IDC_MAIN_PATH       1012
#define IDC_MAIN_EXECUTE    1013
#define IDC_MAIN_OPTIONS    1021
#define IDC_MAIN_EMAIL      1022
#define IDC_MAIN_COUNT      1023
#define IDC_MAIN_WEBSITE    1024
#define IDC_MAIN_VERSION    1060
#define IDC_MAIN_DRIVES     1070

// Search popup (dialog 135)
#define IDD_SEARCH_STATUS      135
#define IDC_SEARCH_STATUS_TEXT 1016

// Settings dialog (dialog 139)
#define IDD_SETTINGS                      139
#define IDC_SETTINGS_TITLE_EXTRACT        1020
#define IDC_SETTINGS_MESSAGE_ALERT        1024
#define IDC_SETTINGS_ASK_FOLDER           1025
#define IDC_SETTINGS_DESKTOP_SHORTCUT     1026
#define IDC_SETTINGS_QUICKLAUNCH_SHORTCUT 1027
#define IDC_SETTINGS_SMART_FOLDER         1028
#define IDC_SETTINGS_QUICK_HEADING        1035
#define IDC_SETTINGS_LOCATION_HEADING     1036
#define IDC_SETTINGS_MASKS_HEADING        1037
#define IDC_SETTINGS_ABOUT_HEADING        1038
#define IDC_SETTINGS_MASKS                1051
#define IDC_SETTINGS_TABS                 1055
#define IDC_SETTINGS_GENERAL_PAGE         1056
#define IDC_SETTINGS_MASKING_PAGE         1057
#define IDC_SETTINGS_MASK_HELP            1058
#define IDC_SETTINGS_ABOUT_TEXT           1059
#define IDC_SETTINGS_ABOUT_PAGE           1060
#define IDC_SETTINGS_ADD                  1061
#define IDC_SETTINGS_DELETE               1062
#define IDC_SETTINGS_MASK_EDIT            1064
#define IDC_SETTINGS_VERSION              1071
#define IDC_SETTINGS_NAME_PAGE_LABEL      1072
#define IDC_SETTINGS_NAME_PAGE            1073
#define IDC_SETTINGS_MARK_OF_THE_WEB      1074
#define IDC_SETTINGS_RECYCLE_ARCHIVES     1075
#define IDC_SETTINGS_EXISTING_LABEL       1076
#define IDC_SETTINGS_EXISTING_FILES       1077
// Heading bitmaps of the settings pages (290 x 15 pixels)
#define IDB_LOCATION_HEADING     162
#define IDB_QUICK_ACCESS_HEADING 163
#define IDB_MASKS_HEADING        169
#define IDB_ABOUT_HEADING        170

// Archive viewer (dialog 172)
#define IDD_VIEWER      172
#define IDC_VIEWER_LIST 1000
#define IDC_VIEWER_NAME 1076

// Password prompt (dialog 180); "OK" is IDOK (1), "Skip" is IDCANCEL (2)
#define IDD_PASSWORD         180
#define IDC_PASSWORD_MEMBER  1080
#define IDC_PASSWORD_ARCHIVE 1081
#define IDC_PASSWORD_EDIT    1082
#define IDC_PASSWORD_WRONG   1083

// Extraction list context menu (menu 168)
#define IDR_EXTRACTION_MENU  168
#define IDM_REMOVE_SELECTED  32775
#define IDM_REMOVE_ALL       32776
#define IDM_EXTRACT_ALL      32778
#define IDM_EXTRACT_SELECTED 32779

// Icons and bitmaps
#define IDI_KESTROVA 156
#define IDB_OPTIONS  140
#define IDB_UP       142
#define IDB_DESKTOP  145
#define IDB_DELETE   146
#define IDB_REFRESH  147
#define IDB_SEARCH   149
#define IDB_EXECUTE  152
#define IDB_EMAIL    158
#define IDB_WEBSITE  159
#define IDB_UP_ROOT  165
#define IDB_VIEW     175

// Every bitmap above (buttons and settings headings) is drawn again for 125, 150 and 200 %
// (resources/tools/draw_images.py): set 1, 2 and 3. The picture of set k has the id of its 96-DPI
// picture plus 1000 x k (IDB_UP 142: 1142, 2142, 3142), the rule of fw::ScaledPictures, and its
// file is bmp<96-DPI id>_<percent>.bmp beside the 96-DPI one.
#define IDB_SCALED_STEP 1000
#define IDB_SCALED(id, set) ((id) + IDB_SCALED_STEP * (set))

#ifdef __cplusplus
#include <cstddef>

// No two names of one group may share a value.
namespace resource_check {
constexpr int kMainIds[] = {IDC_MAIN_EXPLORER, IDC_MAIN_UP, IDC_MAIN_DESKTOP, IDC_MAIN_EXTRACTION, IDC_MAIN_REFRESH,
    IDC_MAIN_DELETE, IDC_MAIN_VIEW, IDC_MAIN_PROGRESS, IDC_MAIN_SEARCH, IDC_MAIN_PATH, IDC_MAIN_EXECUTE,
    IDC_MAIN_OPTIONS, IDC_MAIN_EMAIL, IDC_MAIN_COUNT, IDC_MAIN_WEBSITE, IDC_MAIN_VERSION, IDC_MAIN_DRIVES};
constexpr int kImageIds[] = {IDI_KESTROVA, IDB_OPTIONS, IDB_UP, IDB_DESKTOP, IDB_DELETE, IDB_REFRESH, IDB_SEARCH,
    IDB_EXECUTE, IDB_EMAIL, IDB_WEBSITE, IDB_UP_ROOT, IDB_VIEW, IDB_LOCATION_HEADING, IDB_QUICK_ACCESS_HEADING,
    IDB_MASKS_HEADING, IDB_ABOUT_HEADING};
// The settings dialog's own controls, with "Apply" (IDOK, 1) among them.
constexpr int kSettingsIds[] = {1, IDC_SETTINGS_TITLE_EXTRACT, IDC_SETTINGS_MESSAGE_ALERT, IDC_SETTINGS_ASK_FOLDER,
    IDC_SETTINGS_DESKTOP_SHORTCUT, IDC_SETTINGS_QUICKLAUNCH_SHORTCUT, IDC_SETTINGS_SMART_FOLDER,
    IDC_SETTINGS_QUICK_HEADING, IDC_SETTINGS_LOCATION_HEADING, IDC_SETTINGS_MASKS_HEADING, IDC_SETTINGS_ABOUT_HEADING,
    IDC_SETTINGS_MASKS, IDC_SETTINGS_TABS, IDC_SETTINGS_GENERAL_PAGE, IDC_SETTINGS_MASKING_PAGE, IDC_SETTINGS_MASK_HELP,
    IDC_SETTINGS_ABOUT_TEXT, IDC_SETTINGS_ABOUT_PAGE, IDC_SETTINGS_ADD, IDC_SETTINGS_DELETE, IDC_SETTINGS_MASK_EDIT,
    IDC_SETTINGS_VERSION, IDC_SETTINGS_NAME_PAGE_LABEL, IDC_SETTINGS_NAME_PAGE, IDC_SETTINGS_MARK_OF_THE_WEB,
    IDC_SETTINGS_RECYCLE_ARCHIVES, IDC_SETTINGS_EXISTING_LABEL, IDC_SETTINGS_EXISTING_FILES};
constexpr int kPasswordIds[] = {
    1, 2, IDC_PASSWORD_MEMBER, IDC_PASSWORD_ARCHIVE, IDC_PASSWORD_WRONG, IDC_PASSWORD_EDIT};
template <size_t N> constexpr bool AllDistinct(const int (&ids)[N])
{
    for (size_t i = 0; i < N; ++i)
        for (size_t j = i + 1; j < N; ++j)
            if (ids[i] == ids[j])
                return false;
    return true;
}
static_assert(AllDistinct(kMainIds), "two main-window controls share an id");
static_assert(AllDistinct(kImageIds), "two images share an id");
template <size_t N> constexpr bool AllBelow(const int (&ids)[N], int limit)
{
    for (size_t i = 0; i < N; ++i)
        if (ids[i] >= limit)
            return false;
    return true;
}
static_assert(AllBelow(kImageIds, IDB_SCALED_STEP), "a 96-DPI picture's id would collide with a scaled picture's");
static_assert(AllDistinct(kSettingsIds), "two settings-dialog controls share an id");
static_assert(AllDistinct(kPasswordIds), "two password-prompt controls share an id");
}  // namespace resource_check
#endif
