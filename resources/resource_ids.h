// Ids shared by the resource script and the code.
#pragma once

// Commands (menu items, toolbar buttons, the worker's job-end command).
#define IDM_FACTORIAL 100
#define IDM_POWER 101
#define IDM_STOP 102
#define IDM_JOBEND 103
#define IDM_EXIT 104
#define IDM_HELPCONTENTS 301
#define IDM_ABOUT 302

// Child windows of the main window.
#define IDC_TOOLBAR 100
#define IDC_LOGVIEW 101
#define IDC_STATUSBAR 102

// Factorial dialog controls.
#define IDC_NUMBER 100
#define IDC_DEST_BROWSE 101
#define IDC_START 102
#define IDC_CANCEL_BUTTON 103
#define IDC_TASK_GROUP 104
#define IDC_INFO_GROUP 105
#define IDC_DEST_GROUP 106
#define IDC_NUMBER_SUFFIX 107
#define IDC_RANGE_TEXT 108
#define IDC_DIGITS_CAPTION 109
#define IDC_DIGITS_VALUE 110
#define IDC_MEMORY_CAPTION 111
#define IDC_MEMORY_VALUE 112
#define IDC_DEST_PATH 113

// Bitmaps and icons.
#define IDB_TOOLBAR 1000  // 16 x 16 pictures, for 96 DPI
#define IDI_QUARNEL 1001
#define IDB_TOOLBAR_24 1010  // the same at 24 x 24, for 144 DPI
#define IDB_TOOLBAR_32 1011  // and at 32 x 32, for 192 DPI

// Strings.
#define IDS_TITLE 1002
#define IDS_PRODUCT 1003
#define IDS_VERSION_LINE 1004
#define IDS_AUTHOR_LINE 1005
#define IDS_TIP_FACTORIAL 1006
#define IDS_TIP_POWER 1007
#define IDS_TIP_STOP 1008
#define IDS_ABOUT_CAPTION 1009
#define IDS_NEED_WINDOWS 2000
#define IDS_NEED_PENTIUM 2001
#define IDS_ERR_OVERFLOW 2100
#define IDS_ERR_NO_ROOM 2101
#define IDS_ERR_DIVIDE 2102
#define IDS_ERR_ILLEGAL 2103
#define IDS_ERR_UNEXPECTED 2104
#define IDS_ERR_ALLOCATE 2105
#define IDS_ERR_WRITE 2106
#define IDS_ERR_RELEASE 2107
#define IDS_CLOSE_REFUSED 2200
#define IDS_HOST_FIRST 3000
#define IDS_HOST_UNKNOWN 3006
#define IDS_SAVE_DIALOG_FAILED 5000
#define IDS_PATH_TOO_LONG 5001
#define IDS_RANGE_WARNING 5003
#define IDS_RANGE_TEXT 5005
