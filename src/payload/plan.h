// The extraction plan: the payload's file table becomes lists of files to
// download, copy, extract and unpack; after a disk-space check the phases
// run in that order, then staged archives are cleaned up. Runs on the setup
// worker; drives the progress model.
#pragma once
#include <windows.h>
#include <vector>
#include "common/capacity.h"

// One file of the extraction lists (zero-filled when created).
struct DATAFILEINFO {
    WCHAR szFile[PATH_CCH];     // table name, source path or URL
    WCHAR szTgdFile[PATH_CCH];  // output name, target file or target folder
    ULONGLONG FileSize;
    ULONGLONG DataOffSet;
    DWORD dwRecord;  // the table record it comes from (0 = the first file), for its hash
    union {
        DWORD TypeOfFile;  // in the table list
        DWORD bDeleteSrc;  // in the unpack list: delete the staged archive afterwards
    };
};

enum : unsigned {
    ERRORTEXT_CCH = 256,  // message prepared for the worker
};

// Text the worker shows for a result of 112 (not enough disk space).
extern WCHAR g_szErrorText[ERRORTEXT_CCH];

// Extracts the appended payload of szFile (its magic dwSignOffset bytes
// before the end) into szTgdFolder, staging archives in szDataFolder. Every
// item the package has a hash for is checked as its bytes are copied, and
// a web file once downloaded (a resumed one that is wrong is fetched again
// once, whole), before anything uses it.
// 0, 2, 13, 112, 323 (an item's bytes are not the package's), 1223, 1230,
// 1236, or the first failure of a copy, an extraction or an unpacking.
DWORD ReadDataStruct(LPCWSTR szFile, DWORD dwSignOffset, LPCWSTR szTgdFolder,
                     LPCWSTR szDataFolder, std::vector<DATAFILEINFO> vDataFiles,
                     BOOL bForceDownload);

// The disk-space rule: 112 with g_szErrorText prepared (string 606 with the
// need in KB and the root of szTgdFolder) when ullTotNeedSize is more than
// ullFreeBytes, else 0.
DWORD CheckNeededSpace(LPCWSTR szTgdFolder, ULONGLONG ullFreeBytes, ULONGLONG ullTotNeedSize);

// A disk that filled up during the run: g_szErrorText prepared as the
// disk-space rule would (ullNeeded: what the run needs, as far as known).
void NoteDiskFull(LPCWSTR szTgdFolder, ULONGLONG ullNeeded);

// Where a phase ends on the bar: its weight's share of 95 units above base.
DWORD PhaseStatus(ULONGLONG ullWeight, ULONGLONG ullTotSize, DWORD dwBase);

// The URL of a web file: the download location joined to its output name;
// characters beyond ASCII after the host are %-escaped UTF-8.
BOOL JoinWebUrl(LPWSTR szUrl, size_t cchUrl, LPCWSTR szBase, LPCWSTR szFileOut);
