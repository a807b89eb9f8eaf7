#include "script/filecmd.h"
#include "common/filecopy.h"
#include <shlwapi.h>
#include <stdlib.h>
#include "common/boundedtext.h"
#include "common/cancel.h"
#include "common/filesys.h"
#include "common/trace.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "net/download.h"
#include "net/url.h"
#include "payload/archive.h"
#include "script/condition.h"
#include "script/fields.h"
#include "common/process.h"
#include "common/runfiles.h"

namespace {

enum : unsigned {
    SCRIPT_LOGIN_CCH = 32,  // download login and password: 31 characters
};

// Which commands read which option token.
enum : unsigned {
    FOR_REMOVEDIR = 0x1,
    FOR_REMOVEFILE = 0x2,
    FOR_COPY = 0x4,
    FOR_SETATTR = 0x8,
};

struct OPTIONTOKEN {
    LPCWSTR szToken;
    DWORD dwBit;
    unsigned uCommands;
};

const OPTIONTOKEN g_Options[] = {
    // Recorded and logged only: the folder always goes with its contents.
    {L"<ONLYDIR>", SCRIPT_ONLYDIR, FOR_REMOVEDIR},
    {L"<INCLUDE_SUBDIR>", SCRIPT_INCLUDE_SUBDIR, FOR_REMOVEFILE | FOR_COPY | FOR_SETATTR},
    {L"<LOCKEDDIR>", SCRIPT_LOCKED, FOR_REMOVEDIR},
    {L"<LOCKEDFILE>", SCRIPT_LOCKED, FOR_REMOVEFILE | FOR_COPY},
    // Passed on to the copy, which does not act on it: no shared-file
    // reference counting is kept.
    {L"<SHAREDFILE>", SCRIPT_SHAREDFILE, FOR_COPY},
    {L"<UPDATE_DATE>", SCRIPT_UPDATE_DATE, FOR_COPY},
    {L"<UPDATE_SAME>", SCRIPT_UPDATE_SAME, FOR_COPY},
    {L"<UPDATE_VERSION>", SCRIPT_UPDATE_VERSION, FOR_COPY},
    {L"<CLEAR_FILE_ATTR>", SCRIPT_CLEAR_FILE_ATTR, FOR_COPY},
};

struct ATTRTOKEN {
    LPCWSTR szToken;
    DWORD dwAttribute;
};

const ATTRTOKEN g_Attributes[] = {
    {L"<FILE_ATTRIBUTE_ARCHIVE>", FILE_ATTRIBUTE_ARCHIVE},
    {L"<FILE_ATTRIBUTE_HIDDEN>", FILE_ATTRIBUTE_HIDDEN},
    {L"<FILE_ATTRIBUTE_NORMAL>", FILE_ATTRIBUTE_NORMAL},
    {L"<FILE_ATTRIBUTE_NOT_CONTENT_INDEXED>", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
    {L"<FILE_ATTRIBUTE_OFFLINE>", FILE_ATTRIBUTE_OFFLINE},
    {L"<FILE_ATTRIBUTE_READONLY>", FILE_ATTRIBUTE_READONLY},
    {L"<FILE_ATTRIBUTE_SYSTEM>", FILE_ATTRIBUTE_SYSTEM},
    {L"<FILE_ATTRIBUTE_TEMPORARY>", FILE_ATTRIBUTE_TEMPORARY},
};

// Option bits of the text after a command's fixed fields: every token is
// searched as a substring of the upper-cased text, guard fields included.
DWORD ParseOptions(LPCWSTR szText, unsigned uCommand, DWORD dwStart)
{
    WCHAR szUpper[SCRIPT_TEXT_CCH];
    // Same capacity.
    (void)StringCchCopyW(szUpper, ARRAYSIZE(szUpper), szText);
    ScriptUpper(szUpper);
    DWORD dwFlags = dwStart;
    for (const OPTIONTOKEN& option : g_Options)
        if ((option.uCommands & uCommand) && wcsstr(szUpper, option.szToken))
            dwFlags |= option.dwBit;
    return dwFlags;
}

DWORD ParseAttributes(LPCWSTR szText)
{
    WCHAR szUpper[SCRIPT_TEXT_CCH];
    // Same capacity.
    (void)StringCchCopyW(szUpper, ARRAYSIZE(szUpper), szText);
    ScriptUpper(szUpper);
    DWORD dwAttributes = 0;
    for (const ATTRTOKEN& attribute : g_Attributes)
        if (wcsstr(szUpper, attribute.szToken))
            dwAttributes |= attribute.dwAttribute;
    return dwAttributes;
}

// Appends a backslash; FALSE when it does not fit.
BOOL AppendBackslash(LPWSTR szPath, size_t cch)
{
    return SUCCEEDED(StringCchCatW(szPath, cch, L"\\"));
}

UINT CreateDirCommand(SCRIPTRUN& run, LPCWSTR szHandler, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, szHandler, szParams);
    SCRIPTPATH folder;
    fields.NextPath(folder);
    if (!ScriptLineRuns(fields) || !ScriptPathAllowed(szHandler, folder, GUARD_WRITE))
        return 0;

    WCHAR szPath[PATH_CCH];
    // Same capacity.
    (void)StringCchCopyW(szPath, ARRAYSIZE(szPath), folder.sz);
    UINT uResult =
        AppendBackslash(szPath, ARRAYSIZE(szPath)) && CreateAllDirectory(szPath) == ERROR_SUCCESS;
    SetScriptResult(run, uResult);
    DebugTrace(L"%s(%s)->%d", szHandler, folder.sz, uResult);
    return uResult;
}

}  // namespace

DWORD CopyMatchingFiles(LPCWSTR szPattern, LPCWSTR szDestFolder, DWORD dwFlags)
{
    BOOL bRecursive = (dwFlags & SCRIPT_INCLUDE_SUBDIR) != 0;
    if (CountFiles(szPattern, bRecursive, TRUE) == 0)
        return 0;
    return XCopyFiles(szPattern, szDestFolder, dwFlags);
}

UINT ScriptCreateDir(SCRIPTRUN& run, LPCWSTR szParams)
{
    return CreateDirCommand(run, L"ScriptCreateDir", szParams);
}

UINT ScriptCreateFolder(SCRIPTRUN& run, LPCWSTR szParams)
{
    return CreateDirCommand(run, L"ScriptCreateFolder", szParams);
}

UINT ChangeDir(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ChangeDir", szParams);
    SCRIPTPATH folder;
    fields.NextPath(folder);
    // The lines after it take relative paths from here: never a root.
    if (!ScriptLineRuns(fields) ||
        !ScriptPathAllowed(L"ChangeDir", folder, GUARD_CHANGE_FOLDER))
        return 0;

    WCHAR szPath[PATH_CCH];
    (void)StringCchCopyW(szPath, ARRAYSIZE(szPath), folder.sz);
    UINT uResult = AppendBackslash(szPath, ARRAYSIZE(szPath)) && SetCurrentDirectoryW(szPath);
    SetScriptResult(run, uResult);
    DebugTrace(L"ChangeDir(%s)->%d", folder.sz, uResult);
    return uResult;
}

UINT ScriptRemoveDir(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptRemoveDir", szParams);
    SCRIPTPATH folder;
    WCHAR szOptions[SCRIPT_TEXT_CCH];
    fields.NextPath(folder);
    // The folder's contents always go.
    DWORD dwFlags = ParseOptions(fields.Rest(), FOR_REMOVEDIR, SCRIPT_INCLUDE_SUBDIR);
    fields.Next(szOptions, ARRAYSIZE(szOptions));
    if (!ScriptLineRuns(fields) ||
        !ScriptPathAllowed(L"ScriptRemoveDir", folder, GUARD_REMOVE_FOLDER))
        return 0;

    UINT uResult = RemoveDirectoryTree(folder.sz, dwFlags) == ERROR_SUCCESS ? 1 : 0;
    SetScriptResult(run, uResult);
    DebugTrace(L"ScriptRemoveDir(%s, %d)->%d", folder.sz, dwFlags, uResult);
    return uResult;
}

UINT RemoveFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"RemoveFile", szParams);
    SCRIPTPATH pattern;
    WCHAR szOptions[SCRIPT_TEXT_CCH];
    fields.NextPath(pattern);
    DWORD dwFlags = ParseOptions(fields.Rest(), FOR_REMOVEFILE, 0);
    fields.Next(szOptions, ARRAYSIZE(szOptions));
    if (!ScriptLineRuns(fields) ||
        !ScriptPathAllowed(L"RemoveFile", pattern, GUARD_REMOVE_FILES,
                           (dwFlags & SCRIPT_INCLUDE_SUBDIR) != 0))
        return 0;

    UINT uResult = RemoveFiles(pattern.sz, dwFlags) == ERROR_SUCCESS ? 1 : 0;
    SetScriptResult(run, uResult);
    DebugTrace(L"RemoveFile(%s, %d)->%d", pattern.sz, dwFlags, uResult);
    return uResult;
}

namespace {

// The line of a copy command: what to copy, where to, the options. FALSE
// when the line does not run or a path is refused (an empty destination is:
// it would be the current folder).
BOOL ReadCopyLine(SCRIPTRUN& run, LPCWSTR szHandler, LPCWSTR szParams, SCRIPTPATH& source,
                  SCRIPTPATH& dest, DWORD* pdwFlags)
{
    CScriptFields fields(run, szHandler, szParams);
    WCHAR szOptions[SCRIPT_TEXT_CCH];
    fields.NextPath(source);
    fields.LimitRest(PATH_CCH);
    fields.NextPath(dest);
    *pdwFlags = ParseOptions(fields.Rest(), FOR_COPY, 0);
    fields.Next(szOptions, ARRAYSIZE(szOptions));
    return ScriptLineRuns(fields) && ScriptPathAllowed(szHandler, source, GUARD_WRITE) &&
           ScriptPathAllowed(szHandler, dest, GUARD_WRITE);
}

}  // namespace

UINT ScriptCopyFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    SCRIPTPATH pattern, dest;
    DWORD dwFlags = 0;
    if (!ReadCopyLine(run, L"ScriptCopyFile", szParams, pattern, dest, &dwFlags))
        return 0;

    DWORD dwResult = CopyMatchingFiles(pattern.sz, dest.sz, dwFlags);
    SetScriptResult(run, static_cast<int>(dwResult));
    DebugTrace(L"ScriptCopyFile(%s, %s, %x)->%d", pattern.sz, dest.sz, dwFlags, dwResult);
    return dwResult;
}

UINT ScriptCopyDir(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    SCRIPTPATH source, destFolder;
    DWORD dwFlags = 0;
    if (!ReadCopyLine(run, L"ScriptCopyDir", szParams, source, destFolder, &dwFlags))
        return 0;

    // The source folder goes, by name, into the destination folder.
    LPWSTR szSource = source.sz;
    LPCWSTR szDestFolder = destFolder.sz;
    RemoveTrailingBackslash(szSource);
    WCHAR szDest[PATH_CCH], szPattern[PATH_CCH];
    (void)StringCchCopyW(szDest, ARRAYSIZE(szDest), szDestFolder);
    RemoveTrailingBackslash(szDest);
    BOOL bFits = SUCCEEDED(StringCchPrintfW(szDest, ARRAYSIZE(szDest), L"%s\\%s", szDest,
                                            PathFindFileNameW(szSource))) &&
                 SUCCEEDED(StringCchPrintfW(szPattern, ARRAYSIZE(szPattern), L"%s\\*.*",
                                            szSource));
    DWORD dwResult = 0;
    if (!bFits) {
        DebugTrace(L"ScriptCopyDir(%s, %s)->Path too long!", szSource, szDestFolder);
    } else if ((dwFlags & SCRIPT_INCLUDE_SUBDIR) && IsSameOrBelowPath(szSource, szDest)) {
        // The copy would walk into its own output without end.
        DebugTrace(L"ScriptCopyDir(%s, %s)->Destination inside the source, refused!", szSource,
                   szDest);
    } else if (CreateAllDirectory(szDest) == ERROR_SUCCESS) {
        dwResult = CopyMatchingFiles(szPattern, szDest, dwFlags);
    }
    SetScriptResult(run, static_cast<int>(dwResult));
    DebugTrace(L"ScriptCopyDir(%s, %s, %x)->%d", szPattern, szDest, dwFlags, dwResult);
    return dwResult;
}

UINT ScriptRenameFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptRenameFile", szParams);
    SCRIPTPATH oldPath, newPath;
    fields.NextPath(oldPath);
    fields.LimitRest(PATH_CCH);
    fields.NextPath(newPath);
    // Moving a folder away removes it from where it was.
    if (!ScriptLineRuns(fields) ||
        !ScriptPathAllowed(L"ScriptRenameFile", oldPath, GUARD_REMOVE_FOLDER) ||
        !ScriptPathAllowed(L"ScriptRenameFile", newPath, GUARD_WRITE))
        return 0;

    // A link is not moved: some systems would move what it points to.
    if (InspectEntry(oldPath.sz) == ENTRY_LINK || InspectEntry(newPath.sz) == ENTRY_LINK) {
        DebugTrace(L"ScriptRenameFile(%s, %s)->Refused: a link", oldPath.sz, newPath.sz);
        return 0;
    }
    int iResult = MoveFileW(oldPath.sz, newPath.sz) ? 0 : -1;
    if (iResult == 0)
        NoteRunFile(newPath.sz);
    SetScriptResult(run, iResult);
    DebugTrace(L"ScriptRenameFile(%s, %s)->%d", oldPath.sz, newPath.sz, iResult);
    return static_cast<UINT>(iResult);
}

UINT ScriptSetFileAttributes(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptSetFileAttributes", szParams);
    SCRIPTPATH pattern;
    WCHAR szAttributes[SCRIPT_TEXT_CCH], szOptions[SCRIPT_TEXT_CCH];
    fields.NextPath(pattern);
    fields.Next(szAttributes, ARRAYSIZE(szAttributes));
    DWORD dwFlags = ParseOptions(fields.Rest(), FOR_SETATTR, 0);
    fields.Next(szOptions, ARRAYSIZE(szOptions));
    BOOL bRecursive = (dwFlags & SCRIPT_INCLUDE_SUBDIR) != 0;
    if (!ScriptLineRuns(fields) ||
        !ScriptPathAllowed(L"ScriptSetFileAttributes", pattern, GUARD_SET_ATTRIBUTES, bRecursive))
        return 0;

    DWORD dwAttributes = ParseAttributes(szAttributes);
    UINT uResult =
        SetFilesAttributes(pattern.sz, dwAttributes, bRecursive) == ERROR_SUCCESS ? 1 : 0;
    SetScriptResult(run, uResult);
    DebugTrace(L"ScriptSetFileAttributes(%s, %d)->%d", pattern.sz, dwAttributes, uResult);
    return uResult;
}

UINT WriteIniFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"WriteIniFile", szParams);
    SCRIPTPATH ini;
    LPWSTR szIni = ini.sz;
    WCHAR szSection[SCRIPT_TEXT_CCH], szKey[SCRIPT_TEXT_CCH];
    WCHAR szValue[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.NextPath(ini);
    // A relative INI path is taken from the folder the launcher started in,
    // not from the current directory of the moment.
    if (szIni[0] && PathIsRelativeW(szIni)) {
        WCHAR szCurrentDir[EXPAND_WORK_CCH] = L"<CURRENTDIR>";
        ExpandPathVar(run.ctx, szCurrentDir, ARRAYSIZE(szCurrentDir));
        WCHAR szRelative[PATH_CCH];
        (void)StringCchCopyW(szRelative, ARRAYSIZE(szRelative), szIni);
        if (FAILED(StringCchPrintfW(szIni, ARRAYSIZE(ini.sz), L"%s\\%s", szCurrentDir,
                                    szRelative)))
            fields.Refuse();
    }
    fields.Next(szSection, ARRAYSIZE(szSection));
    fields.Next(szKey, ARRAYSIZE(szKey));
    fields.NextExpanded(szValue, ARRAYSIZE(szValue));
    fields.Guard(guard);
    if (!fields.Valid())
        return 0;
    // Without a file name the profile calls would fall back to win.ini.
    if (!szIni[0]) {
        DebugTrace(L"WriteIniFile()->No INI file!");
        return 0;
    }
    if (ini.szEmptyVars[0] && ScriptGuard(run, guard)) {
        (void)ScriptPathAllowed(L"WriteIniFile", ini, GUARD_WRITE);  // refuses it, traced
        return 0;
    }

    if (ScriptGuard(run, guard) && InspectEntry(szIni) == ENTRY_LINK) {
        // The profile functions would write where the link points.
        DebugTrace(L"WriteIniFile(%s)->Refused: a link", szIni);
    } else if (ScriptGuard(run, guard)) {
        BOOL bResult;
        if (!szKey[0])
            bResult = WritePrivateProfileStringW(szSection, nullptr, nullptr, szIni);
        else if (!szValue[0])
            bResult = WritePrivateProfileStringW(szSection, szKey, nullptr, szIni);
        else
            bResult = WritePrivateProfileStringW(szSection, szKey, szValue, szIni);
        UINT uResult = bResult ? 1 : 0;
        if (bResult)
            NoteRunFile(szIni);
        SetScriptResult(run, uResult);
        DebugTrace(L"WriteIniFile(%s,%s,%s,%s)->%d", szIni, szSection, szKey, szValue, uResult);
    }
    // Flush the profile cache for the file, guard or not.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, szIni);
    return 0;
}

UINT ScriptDelay(SCRIPTRUN& run, LPCWSTR szParams)
{
    DebugTrace(L"ScriptDelay(%s)->Begin", szParams);
    CScriptFields fields(run, L"ScriptDelay", szParams);
    WCHAR szDelay[SCRIPT_TEXT_CCH], szFile[PATH_CCH], szUnused[SCRIPT_TEXT_CCH];
    fields.NextExpanded(szDelay, ARRAYSIZE(szDelay));
    DebugTrace(L"ScriptDelay()->szDelay=%s szFile=%s", szDelay, fields.Rest());
    fields.NextExpanded(szFile, ARRAYSIZE(szFile));
    fields.Next(szUnused, ARRAYSIZE(szUnused));
    if (!ScriptLineRuns(fields))
        return 0;

    long lDelay = ScriptNumber(szDelay);
    DWORD dwDelay = lDelay > 0 ? static_cast<DWORD>(lDelay) : 0;
    DWORD dwStart = GetTickCount();
    BOOL bRunning = TRUE;
    // The cancel flag ends the wait too, so that a long delay never holds
    // a cancelled run.
    while (GetTickCount() - dwStart < dwDelay && !(szFile[0] && !bRunning) && !g_bCancel) {
        if (szFile[0])
            bRunning = FindModule(szFile);
        Sleep(100);
    }
    DebugTraceA("Delay()->Time=%d ms", static_cast<int>(GetTickCount() - dwStart));
    return 0;
}

UINT ScriptDownLoadFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptDownLoadFile", szParams);
    WCHAR szUrl[PATH_CCH];
    SCRIPTPATH file;
    LPCWSTR szFile = file.sz;
    WCHAR szLogin[SCRIPT_LOGIN_CCH], szPassword[SCRIPT_LOGIN_CCH];
    SCRIPTGUARD guard;
    BOOL bSplit = fields.NextExpanded(szUrl, ARRAYSIZE(szUrl));
    fields.LimitRest(PATH_CCH);
    fields.NextPath(file);
    fields.NextExpanded(szLogin, ARRAYSIZE(szLogin));
    fields.Next(szPassword, ARRAYSIZE(szPassword));
    fields.Guard(guard);
    DWORD dwResult = 0;
    if (fields.Valid() && ScriptGuard(run, guard) &&
        ScriptPathAllowed(L"ScriptDownLoadFile", file, GUARD_WRITE)) {
        dwResult = DownloadFile(szUrl, szLogin, szPassword, szFile, FALSE);
        SetScriptResult(run, static_cast<int>(dwResult));
    }
    // Logged even when the guard failed, as soon as the line had its fields.
    if (bSplit) {
        WCHAR szLogUrl[PATH_CCH];
        MaskUrlPassword(szUrl, szLogUrl, ARRAYSIZE(szLogUrl));
        DebugTrace(L"ScriptDownLoadFile(%s,%s)->%d", szLogUrl, szFile, dwResult);
    }
    return dwResult;
}

void MaskDownLoadParams(LPCWSTR szParams, LPWSTR szOut, size_t cchOut)
{
    enum { FIELD_URL = 0, FIELD_PASSWORD = 3 };
    szOut[0] = L'\0';
    LPCWSTR p = szParams ? szParams : L"";
    for (int iField = 0;; ++iField) {
        size_t cch = wcscspn(p, L",");
        WCHAR szField[SCRIPT_TEXT_CCH];
        // Only traced.
        (void)StringCchCopyNW(szField, ARRAYSIZE(szField), p, cch);
        WCHAR szMasked[SCRIPT_TEXT_CCH];
        if (iField == FIELD_URL)
            MaskUrlPassword(szField, szMasked, ARRAYSIZE(szMasked));
        else if (iField == FIELD_PASSWORD)
            (void)StringCchCopyW(szMasked, ARRAYSIZE(szMasked), MaskPassword(szField));
        else
            (void)StringCchCopyW(szMasked, ARRAYSIZE(szMasked), szField);
        (void)StringCchCatW(szOut, cchOut, szMasked);
        if (!p[cch])
            break;
        (void)StringCchCatW(szOut, cchOut, L",");
        p += cch + 1;
    }
}

namespace {

// The archive commands differ only in the unpacker, its result and the
// line they trace.
struct UNPACKCOMMAND {
    LPCWSTR szHandler;
    LPCWSTR szTrace;  // archive, target, result
    BOOL bExtraField; // UNCABFILE carries one more field before the guard
    DWORD (*pfnUnpack)(const RUNCONTEXT& ctx, LPCWSTR szArchive, LPCWSTR szTarget);
};

// Every file of the cabinet, with its folders: the cabinet's own code.
DWORD UnpackCabinet(const RUNCONTEXT&, LPCWSTR szArchive, LPCWSTR szTarget)
{
    return UnPackCABFile(szArchive, szTarget, L"", TRUE);
}

// UNZIPFILE and the PAC commands tell scripts 1 done, 0 failed; the
// unpacker has traced the cause.
DWORD UnpackZip(const RUNCONTEXT&, LPCWSTR szArchive, LPCWSTR szTarget)
{
    return UnZipArchive(szArchive, szTarget) == ERROR_SUCCESS ? 1 : 0;
}

// The package's QELTRON.dll is in the scratch folder.
DWORD UnpackPac(const RUNCONTEXT& ctx, LPCWSTR szArchive, LPCWSTR szTarget)
{
    return UnPacArchive(szArchive, szTarget, ctx.szTempTRV) == ERROR_SUCCESS ? 1 : 0;
}

const UNPACKCOMMAND g_UnpackCab = {L"ScriptUnCABFile", L"ScriptUnCABFile(%s, %s)->%d", TRUE,
                                   UnpackCabinet};
const UNPACKCOMMAND g_UnpackZip = {L"ScriptUnZipFile", L"ScriptUnZipFile(%s,%s)->%d", FALSE,
                                   UnpackZip};
const UNPACKCOMMAND g_UnpackPac = {L"ScriptUnPACFile", L"ScriptUnPACFile(%s, %s)->%d", FALSE,
                                   UnpackPac};

UINT ScriptUnpackArchive(SCRIPTRUN& run, const UNPACKCOMMAND& command, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, command.szHandler, szParams);
    SCRIPTPATH archive, target;
    WCHAR szUnused[SCRIPT_TEXT_CCH];
    fields.NextPath(archive);
    fields.LimitRest(PATH_CCH);
    fields.NextPath(target);
    if (command.bExtraField)
        fields.Next(szUnused, ARRAYSIZE(szUnused));
    // An empty target would be the current folder.
    if (!ScriptLineRuns(fields) ||
        !ScriptPathAllowed(command.szHandler, archive, GUARD_WRITE) ||
        !ScriptPathAllowed(command.szHandler, target, GUARD_WRITE))
        return 0;

    DWORD dwResult = command.pfnUnpack(run.ctx, archive.sz, target.sz);
    SetScriptResult(run, static_cast<int>(dwResult));
    DebugTrace(command.szTrace, archive.sz, target.sz, dwResult);
    return dwResult;
}

}  // namespace

UINT ScriptUnCABFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    return ScriptUnpackArchive(run, g_UnpackCab, szParams);
}

UINT ScriptUnZipFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    return ScriptUnpackArchive(run, g_UnpackZip, szParams);
}

UINT ScriptUnPACFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    return ScriptUnpackArchive(run, g_UnpackPac, szParams);
}
