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
#define IDS_STATUS_TITLE        281
#define IDS_STATUS_CONFIGURING  282
#define IDS_ERROR_CAPTION       600
#define IDS_ERROR_BUILD         601
#define IDS_ERROR_CONNLOST      602
#define IDS_ERROR_NOCONN        603
#define IDS_ERROR_INTERRUPTED   604
#define IDS_ERROR_INIT          605
#define IDS_ERROR_DISKSPACE     606
#define IDS_WARNING_CAPTION     700
#define IDS_HELP_TEXT           712
#define IDS_HELP_CAPTION        713

// resources of the package
#define IDR_BINARY              130
#define IDR_DATA                131
#define IDR_CORVEL              135
#define IDR_CFG                 136
