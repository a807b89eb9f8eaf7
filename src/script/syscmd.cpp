#include "script/syscmd.h"
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdlib.h>
#include "common/boundedtext.h"
#include "common/errors.h"
#include "common/filesys.h"
#include "common/handles.h"
#include "common/osversion.h"
#include "common/trace.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "script/condition.h"
#include "common/register.h"
#include "script/fields.h"
#include "common/process.h"
#include "common/runfiles.h"

namespace {

enum : DWORD {
    SERVICE_PUMP_SLEEP_MS = 200, // between message checks while a service changes state
};

// Keeps the calling thread's messages flowing for dwMilliseconds.
void PumpMessagesWhile(DWORD dwMilliseconds)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (GetTickCount() - dwStart >= dwMilliseconds)
            break;
        Sleep(SERVICE_PUMP_SLEEP_MS);
    }
}

DWORD ClampWait(DWORD dwWait)
{
    return dwWait < 1000 ? 1000 : (dwWait > 10000 ? 10000 : dwWait);
}

}  // namespace

DWORD CreateShortCut(LPCWSTR szFolder, LPCWSTR szName, LPCWSTR szTarget, LPCWSTR szArguments,
                     LPCWSTR szDescription, int nShowCmd, LPCWSTR szWorkingDir,
                     LPCWSTR szIconFile, int iIconIndex)
{
    if (!szFolder[0] || !szName[0] || !szTarget[0] || nShowCmd < 0 || iIconIndex < 0) {
        DebugTrace(L"CreateShortCut->Bad parameters!");
        return ERROR_INVALID_PARAMETER;
    }
    if (!PathFileExistsW(szTarget)) {
        DebugTrace(L"CreateShortCut->'%s' doesn't exist!", szTarget);
        return ERROR_FILE_NOT_FOUND;
    }

    // Shortcut file: the file-name part of the name, with ".lnk" unless it
    // already ends so.
    WCHAR szFile[PATH_CCH];
    // Parts of a PATH_CCH path.
    (void)StringCchCopyW(szFile, ARRAYSIZE(szFile), PathFindFileNameW(szName));
    if (ScriptCompareNoCase(PathFindExtensionW(szFile), L".lnk") != 0 &&
        FAILED(StringCchCatW(szFile, ARRAYSIZE(szFile), L".lnk")))
        return ERROR_FILENAME_EXCED_RANGE;
    WCHAR szDir[PATH_CCH], szPath[PATH_CCH];
    (void)StringCchCopyW(szDir, ARRAYSIZE(szDir), szFolder);
    RemoveTrailingBackslash(szDir);
    if (FAILED(StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s", szDir, szFile))) {
        DebugTrace(L"CreateShortCut->Path too long!");
        return ERROR_FILENAME_EXCED_RANGE;
    }

    DWORD dwResult = ERROR_FUNCTION_FAILED;
    HRESULT hrInit = CoInitialize(nullptr);
    {
        CComPtr<IShellLinkW> pLink;
        CComPtr<IPersistFile> pFile;
        HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, pLink.Out());
        if (FAILED(hr)) {
            DebugTrace(L"CreateShortCut->CoCreateInstance failed (%#x)", static_cast<unsigned>(hr));
            dwResult = ErrorOfHresult(hr);
        } else {
            pLink->SetPath(szTarget);
            pLink->SetArguments(szArguments);
            if (szDescription[0])
                pLink->SetDescription(szDescription);
            if (nShowCmd > 0)
                pLink->SetShowCmd(nShowCmd);
            if (szWorkingDir[0])
                pLink->SetWorkingDirectory(szWorkingDir);
            if (szIconFile[0])
                pLink->SetIconLocation(szIconFile, iIconIndex);

            if (!PathIsDirectoryW(szDir)) {
                DebugTrace(L"CreateShortCut->'%s' doesn't exist!", szDir);
                DWORD dwMade = CreateAllDirectory(szDir);
                if (dwMade != ERROR_SUCCESS)
                    hr = HRESULT_FROM_WIN32(dwMade);
            }
            if (SUCCEEDED(hr))
                hr = pLink->QueryInterface(IID_IPersistFile, pFile.Out());
            // Saving over a link would write where it points.
            if (SUCCEEDED(hr) && InspectEntry(szPath) == ENTRY_LINK)
                hr = HRESULT_FROM_WIN32(ClearForWrite(szPath));
            if (SUCCEEDED(hr))
                hr = pFile->Save(szPath, TRUE);
            DebugTrace(L"CreateShortCut->PersistFile->Save(%s)->%d", szPath, static_cast<int>(hr));
            dwResult = ErrorOfHresult(hr);
            if (dwResult == ERROR_SUCCESS)
                NoteRunFile(szPath);
        }
    }
    if (SUCCEEDED(hrInit))
        CoUninitialize();
    DebugTrace(L"CreateShortCut->End(%d)", dwResult == ERROR_SUCCESS);
    return dwResult;
}

DWORD RemoveShortCut(LPCWSTR szFolder, LPCWSTR szName)
{
    WCHAR szDir[PATH_CCH], szPath[PATH_CCH];
    // Part of a PATH_CCH path.
    (void)StringCchCopyW(szDir, ARRAYSIZE(szDir), szFolder);
    RemoveTrailingBackslash(szDir);
    LPCWSTR szExt = PathFindExtensionW(szName);
    HRESULT hr;
    if (*szExt) {
        if (ScriptCompareNoCase(szExt, L".lnk") != 0)
            return ERROR_INVALID_NAME;
        // A full path stands for itself; a bare name lives in the folder,
        // as CreateShortCut put it there (never in the current directory).
        if (!PathIsRelativeW(szName))
            hr = StringCchCopyW(szPath, ARRAYSIZE(szPath), szName);
        else
            hr = StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s", szDir,
                                  PathFindFileNameW(szName));
    } else {
        hr = StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s.lnk", szDir,
                              PathFindFileNameW(szName));
    }
    if (FAILED(hr))
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD dwResult = DeleteFileNoLink(szPath);
    DebugTrace(L"RemoveShortCut(%s)->%d", szPath, dwResult == ERROR_SUCCESS);
    return dwResult;
}

BOOL WaitForServiceToReachState(SC_HANDLE hService, DWORD dwDesiredState,
                                SERVICE_STATUS* pStatus)
{
    DWORD dwTimeout = pStatus->dwWaitHint < 1000 ? 5000 : pStatus->dwWaitHint;
    DWORD dwPoll = ClampWait(dwTimeout / 10);
    DWORD dwCheckPoint = pStatus->dwCheckPoint;
    DWORD dwStart = GetTickCount();
    while (pStatus->dwCurrentState != dwDesiredState) {
        PumpMessagesWhile(dwPoll);
        // A service that has stopped no longer answers the interrogation;
        // its status is read from the manager either way.
        ControlService(hService, SERVICE_CONTROL_INTERROGATE, pStatus);
        if (!QueryServiceStatus(hService, pStatus))
            break;
        if (pStatus->dwCheckPoint > dwCheckPoint) {
            dwCheckPoint = pStatus->dwCheckPoint;
            dwStart = GetTickCount();
        } else if (GetTickCount() - dwStart > 3 * dwTimeout) {
            break;
        }
    }
    if (pStatus->dwCurrentState == dwDesiredState) {
        DebugTrace(L"WaitForServiceToReachState()->Success");
        return TRUE;
    }
    DebugTrace(L"WaitForServiceToReachState()->Failed - CurrentState=%d",
               static_cast<int>(pStatus->dwCurrentState));
    return FALSE;
}

DWORD StopService(LPCWSTR szService)
{
    CServiceHandle hManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hManager.Get()) {
        DWORD dwError = LastErrorOr(ERROR_ACCESS_DENIED);
        DebugTrace(L"StopService()->OpenSCManager failed");
        return dwError;
    }
    CServiceHandle hService(OpenServiceW(hManager.Get(), szService,
                                         SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE));
    if (!hService.Get()) {
        DWORD dwError = LastErrorOr(ERROR_SERVICE_DOES_NOT_EXIST);
        DebugTrace(L"StopService()->OpenService failed");
        return dwError;
    }
    SERVICE_STATUS status = {};
    if (!ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) {
        DWORD dwError = LastErrorOr(ERROR_SERVICE_NOT_ACTIVE);
        DebugTrace(L"StopService()->ControlService failed");
        return dwError;
    }
    if (!WaitForServiceToReachState(hService.Get(), SERVICE_STOPPED, &status))
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    return ERROR_SUCCESS;
}

UINT ScriptCreateIcon(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptCreateIcon", szParams);
    SCRIPTPATH folder, name;
    LPCWSTR szFolder = folder.sz;
    LPCWSTR szName = name.sz;
    WCHAR szTarget[PATH_CCH], szWorkingDir[PATH_CCH];
    WCHAR szIconFile[PATH_CCH], szArguments[SCRIPT_TEXT_CCH], szDescription[SCRIPT_TEXT_CCH];
    WCHAR szShow[SCRIPT_TEXT_CCH], szIconIndex[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.NextPath(folder);
    fields.NextPath(name);
    fields.NextExpanded(szTarget, ARRAYSIZE(szTarget));
    fields.NextExpanded(szArguments, ARRAYSIZE(szArguments));
    fields.NextExpanded(szDescription, ARRAYSIZE(szDescription));
    fields.Next(szShow, ARRAYSIZE(szShow));
    fields.NextExpanded(szWorkingDir, ARRAYSIZE(szWorkingDir));
    fields.NextExpanded(szIconFile, ARRAYSIZE(szIconFile));
    fields.Next(szIconIndex, ARRAYSIZE(szIconIndex));
    fields.Guard(guard);
    DebugTrace(L"ScriptCreateIcon()->szCondIf=%s, g_szCondition=%s", guard.szCondIf,
               run.szCondition);
    if (!fields.Valid() || !GuardOsPasses(guard) || !GuardLabelPasses(run, guard))
        return 0;
    DebugTrace(L"ScriptCreateIcon()->szTestOSSubVersion=%s, g_szSP=%s", guard.szSP, g_szSP);
    // A folder that stood for nothing would put the shortcut in a root.
    if (!GuardSpPasses(guard) ||
        (folder.szEmptyVars[0] && !ScriptPathAllowed(L"ScriptCreateIcon", folder, GUARD_WRITE)) ||
        (name.szEmptyVars[0] && !ScriptPathAllowed(L"ScriptCreateIcon", name, GUARD_WRITE)))
        return 0;

    int nShowCmd = static_cast<int>(ScriptNumber(szShow));
    int iIconIndex = static_cast<int>(ScriptNumber(szIconIndex));
    UINT uResult = CreateShortCut(szFolder, szName, szTarget, szArguments, szDescription, nShowCmd,
                                  szWorkingDir, szIconFile, iIconIndex) == ERROR_SUCCESS
                       ? 1
                       : 0;
    SetScriptResult(run, uResult);
    DebugTrace(L"ScriptCreateIcon(%s,%s,%s,%s)->%d", szTarget, szArguments, szName, szDescription,
               uResult);
    return uResult;
}

UINT ScriptRemoveIcon(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptRemoveIcon", szParams);
    SCRIPTPATH folder, name;
    LPCWSTR szFolder = folder.sz;
    LPCWSTR szName = name.sz;
    fields.NextPath(folder);
    fields.NextPath(name);
    if (!ScriptLineRuns(fields) ||
        (folder.szEmptyVars[0] && !ScriptPathAllowed(L"ScriptRemoveIcon", folder, GUARD_WRITE)) ||
        (name.szEmptyVars[0] && !ScriptPathAllowed(L"ScriptRemoveIcon", name, GUARD_WRITE)))
        return 0;

    UINT uResult = RemoveShortCut(szFolder, szName) == ERROR_SUCCESS ? 1 : 0;
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    SetScriptResult(run, uResult);
    DebugTrace(L"ScriptRemoveIcon(%s, %s)->%d", szFolder, szName, uResult);
    return uResult;
}

UINT ScriptExecuteFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    DebugTrace(L"ScriptExecuteFile()->Parameters=%s", szParams);
    CScriptFields fields(run, L"ScriptExecuteFile", szParams);
    WCHAR szFile[PATH_CCH], szArgs[SCRIPT_TEXT_CCH], szDir[PATH_CCH];
    WCHAR szVerb[SCRIPT_TEXT_CCH], szOptions[SCRIPT_TEXT_CCH];
    fields.NextExpanded(szFile, ARRAYSIZE(szFile));
    fields.ExpandRest();
    DebugTrace(L"ScriptExecuteFile()->szFullFileName=%s szParams=%s", szFile, fields.Rest());
    fields.Next(szArgs, ARRAYSIZE(szArgs));
    fields.LimitRest(PATH_CCH);
    DebugTrace(L"ScriptExecuteFile()->szDirectory=%s", fields.Rest());
    fields.Next(szDir, ARRAYSIZE(szDir));
    DebugTrace(L"ScriptExecuteFile()->szDirectory=%s szFunction=%s", szDir, fields.Rest());
    fields.Next(szVerb, ARRAYSIZE(szVerb));
    fields.Next(szOptions, ARRAYSIZE(szOptions));

    // The options and everything after them, upper-cased.
    WCHAR szUpper[SCRIPT_TEXT_CCH * 2];
    // Room for both.
    (void)StringCchPrintfW(szUpper, ARRAYSIZE(szUpper), L"%s,%s", szOptions, fields.Rest());
    ScriptUpper(szUpper);
    BOOL bNoWait = wcsstr(szUpper, L"<NOWAIT>") != nullptr;
    int nShowCmd = wcsstr(szUpper, L"<SW_HIDE>") ? SW_HIDE : SW_SHOWNORMAL;
    DebugTrace(L"ScriptExecuteFile()->szDirectory=%s szFunction=%s Options=%s pFind=%d", szDir,
               szVerb, szOptions, bNoWait);
    DebugTraceA("ScriptExecuteFile()->Show=%d", nShowCmd);
    if (!szVerb[0])
        // Fits.
        (void)StringCchCopyW(szVerb, ARRAYSIZE(szVerb),
                             g_OsVersion.dwMajorVersion < 6 ? L"open" : L"RunAs");
    DebugTrace(L"FullFileName=%s", szFile);
    if (!ScriptLineRuns(fields))
        return 0;

    if (!szDir[0]) {
        // Same capacity.
        (void)StringCchCopyW(szDir, ARRAYSIZE(szDir), szFile);
        PathRemoveFileSpecW(szDir);
    }
    DWORD dwExitCode = 0;
    BOOL bResult = ExecuteFile(g_hStatusWnd, szFile, szArgs, szDir, szVerb, !bNoWait, nShowCmd,
                               &dwExitCode, nullptr) == ERROR_SUCCESS;
    if (!bResult || bNoWait)
        dwExitCode = 0;
    SetScriptResult(run, static_cast<int>(dwExitCode));
    DebugTrace(L"ScriptExecuteFile(%s,%s,%s)->%d", szFile, szArgs, szOptions, bResult);
    return dwExitCode;
}

UINT ScriptKillModule(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptKillModule", szParams);
    WCHAR szProgram[PATH_CCH];
    fields.NextExpanded(szProgram, ARRAYSIZE(szProgram));
    if (!ScriptLineRuns(fields))
        return 0;

    // Programs started from another run's temporary folders (a package
    // running this one, or one beside it) are that run's, never ours.
    WCHAR szOtherRuns[PATH_CCH];
    if (FAILED(StringCchPrintfW(szOtherRuns, ARRAYSIZE(szOtherRuns), L"%s\\%s",
                                run.ctx.szFolders[PV_TEMP], TRV_DEFAULT_GUID)))
        szOtherRuns[0] = L'\0';
    UINT uResult = KillModule(szProgram, szOtherRuns, run.ctx.szTempTRV) ? 1 : 0;
    SetScriptResult(run, uResult);
    DebugTrace(L"ScriptKillModule(%s)->%d", szProgram, uResult);
    return uResult;
}

UINT ScriptStopService(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptStopService", szParams);
    WCHAR szService[SCRIPT_TEXT_CCH];
    fields.NextExpanded(szService, ARRAYSIZE(szService));
    if (!ScriptLineRuns(fields))
        return 0;

    UINT uResult = StopService(szService) == ERROR_SUCCESS ? 1 : 0;
    SetScriptResult(run, uResult);
    return uResult;
}

UINT ScriptRegisterFile(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptRegisterFile", szParams);
    WCHAR szFile[PATH_CCH], szMode[SCRIPT_TEXT_CCH], szExtra[SCRIPT_TEXT_CCH];
    fields.NextExpanded(szFile, ARRAYSIZE(szFile));
    fields.Next(szMode, ARRAYSIZE(szMode));
    fields.NextExpanded(szExtra, ARRAYSIZE(szExtra));
    if (!ScriptLineRuns(fields))
        return 0;

    TrimBlanks(szMode);
    BOOL bRegister = wcscmp(szMode, L"0") != 0;
    UINT uResult = RegisterFile(szFile, szExtra, bRegister) == ERROR_SUCCESS ? 1 : 0;
    SetScriptResult(run, static_cast<int>(uResult));
    DebugTrace(L"ScriptRegisterFile(%s,%s,%d)->%d", szFile, szExtra, bRegister, uResult);
    return uResult;
}
