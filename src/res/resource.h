// Resource identifiers shared by the program and every language library.
#pragma once

// icons
#define IDI_MAIN                1
#define IDI_TRAY                138

// menu
#define IDM_TRAY                138
#define IDM_TRAY_OPEN           0x8008
#define IDM_TRAY_EXIT           0x8006

// dialogs
#define IDD_STATUS_SMALL        150
#define IDD_LICENSE             189
#define IDD_STATUS_NORMAL       200
#define IDD_MSGWAIT             13085

// controls (ids shared by every language's templates)
#define IDC_STATUS_ICON         -1      // icon static of the small status and wait windows
#define IDC_PRINT               5       // license: "&Print"
#define IDC_BACK                3       // license: "< &Back", hidden unless asked
#define IDC_HEADING             1003    // status heading / license heading / wait message
#define IDC_SUBTEXT             1004    // status: "%s is configuring ..."
#define IDC_STEP_PERCENT        1005    // step percent text
#define IDC_MAIN_PERCENT        1006    // main percent text
#define IDC_STEP_TEXT           1007    // step (phase) text
#define IDC_SECOND_TEXT         1008    // second text
#define IDC_LICENSE_TEXT        1095    // license: rich edit
#define IDC_LICENSE_ACCEPT      1096    // license: accept radio
#define IDC_LICENSE_DECLINE     1097    // license: decline radio
#define IDC_SEPARATOR           1300    // etched separator line
#define IDC_STEP_BAR            1500    // step progress bar
#define IDC_MAIN_BAR            1501    // main progress bar

// strings
#define IDS_RESTART_TEXT        137
#define IDS_RESTART_CAPTION     138
#define IDS_DOWNLOADING         139
#define IDS_INSTALLING          140
#define IDS_PREPARING           141
#define IDS_EXTRACTING          142
#define IDS_COPYING             143
#define IDS_READY               144
#define IDS_UNCOMPRESSING       145
#define IDS_CLEANING            148
#define IDS_SETTING             149
#define IDS_COMPLETE            150
#define IDS_LICENSE_TITLE       260
#define IDS_LICENSE_READ        261
#define IDS_LICENSE_ACCEPT      262
#define IDS_LICENSE_DECLINE     263
#define IDS_LICENSE_WAIT        264
#define IDS_STATUS_TITLE        281
#define IDS_STATUS_CONFIGURING  282
#define IDS_STATUS_RUNNING      283     // heading while the setup program runs
#define IDS_STATUS_RUNNING_TEXT 284
#define IDS_STATUS_OVERALL      285     // label of the main bar
#define IDS_ERROR_CAPTION       600
#define IDS_ERROR_BUILD         601
#define IDS_ERROR_CONNLOST      602
#define IDS_ERROR_NOCONN        603
#define IDS_ERROR_INTERRUPTED   604
#define IDS_ERROR_INIT          605
#define IDS_ERROR_DISKSPACE     606
#define IDS_ERROR_TARGET        607
#define IDS_ERROR_NOCONFIG      608
#define IDS_ERROR_DAMAGED       609
#define IDS_ERROR_SERVER        610
#define IDS_ERROR_ACCESS        611
#define IDS_ERROR_OTHER         612
#define IDS_ERROR_CODE          613     // the line with the Win32 code under a message
#define IDS_CONFIRM_CANCEL      614
#define IDS_ERROR_FOLDER        615     // the package's own target folder is refused
#define IDS_INFO_VERSION        616
#define IDS_INFO_LANGUAGES      617
#define IDS_ERROR_MEMORY        618
#define IDS_WARNING_CAPTION     700
#define IDS_HELP_TEXT           712
#define IDS_HELP_CAPTION        713

// resources of the package
#define IDR_BINARY              130
#define IDR_DATA                131
#define IDR_CORVEL              135
#define IDR_CFG                 136
