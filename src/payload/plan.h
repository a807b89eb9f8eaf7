// The extraction plan: the payload's file table becomes lists of files to
// download, copy, extract and unpack; after a disk-space check the phases
// run in that order, then staged archives are cleaned up. Runs on the setup
// worker; drives the progress model.
#pragma once
#include <windows.h>
#include <vector>
#include "common/capacity.h"
#include "state/runcontext.h"

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

// The phase in which the extraction stopped.
enum EXTRACTSTEP : DWORD {
    EXTRACT_STEP_NONE = 0,
    EXTRACT_STEP_SPACE,     // the disk-space check before anything is written
    EXTRACT_STEP_DOWNLOAD,  // the code is the server's answer, or the transfer's
    EXTRACT_STEP_COPY,
    EXTRACT_STEP_EXTRACT,
    EXTRACT_STEP_UNPACK,
    EXTRACT_STEP_WRITE,     // a write outside the steps above found the disk full
};

// Where an extraction failed, for the message the user reads; the run keeps
// it and the extraction clears it when it starts.
struct EXTRACTFAILURE {
    DWORD dwStep;            // EXTRACT_STEP_
    WCHAR szPath[PATH_CCH];  // the file or folder being written (the drive's root for SPACE)
    ULONGLONG ullNeedBytes;  // the bytes the payload needs on disk, once known
};

// Extracts the appended payload of szFile (its magic dwSignOffset bytes
// before the end) into szTgdFolder, as the configuration of ctx says, staging archives in
// szDataFolder. Every item the package has a hash for is checked as its bytes are copied, and a web
// file once downloaded (a resumed one that is wrong is fetched again once, whole), before anything
// uses it. 0, 2, 13, 112, 323 (an item's bytes are not the package's), 1223, 1230, 1236, or the
// first failure of a copy, an extraction or an unpacking; *pFailure (when given) says where.
[[nodiscard]] DWORD ReadDataStruct(const RUNCONTEXT& ctx, LPCWSTR szFile, DWORD dwSignOffset,
                                   LPCWSTR szTgdFolder, LPCWSTR szDataFolder,
                                   std::vector<DATAFILEINFO> vDataFiles, BOOL bForceDownload,
                                   EXTRACTFAILURE* pFailure = nullptr);

// The disk-space rule: 112, with the root of szTgdFolder and the need in
// failure, when ullTotNeedSize is more than ullFreeBytes, else 0.
[[nodiscard]] DWORD CheckNeededSpace(LPCWSTR szTgdFolder, ULONGLONG ullFreeBytes,
                                     ULONGLONG ullTotNeedSize, EXTRACTFAILURE& failure);

// A disk that filled up during the run, in failure: where (the file a step
// was writing, else szTgdFolder) and what the run needs (ullNeeded where
// the plan did not know it yet).
void NoteDiskFull(EXTRACTFAILURE& failure, LPCWSTR szTgdFolder, ULONGLONG ullNeeded);

// Where a phase ends on the bar: its weight's share of 95 units above base.
DWORD PhaseStatus(ULONGLONG ullWeight, ULONGLONG ullTotSize, DWORD dwBase);

// The URL of a web file: the download location joined to its output name;
// characters beyond ASCII after the host are %-escaped UTF-8.
[[nodiscard]] BOOL JoinWebUrl(LPWSTR szUrl, size_t cchUrl, LPCWSTR szBase, LPCWSTR szFileOut);
