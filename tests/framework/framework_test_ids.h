#pragma once
#define IDD_TEST          200
#define IDC_TEST_LIST     2001
#define IDC_TEST_BUTTON   2002
#define IDC_TEST_COMBO    2003
#define IDC_TEST_PROGRESS 2004
#define IDC_TEST_STATIC   2005
