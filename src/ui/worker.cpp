#include "ui/worker.h"
#include <objbase.h>
#include "common/errors.h"
#include <shlwapi.h>
#include <strsafe.h>
#include <string>
#include <vector>
#include "common/cancel.h"
#include "common/checkedmath.h"
#include "common/osversion.h"
#include "common/trace.h"
#include "state/languages.h"
#include "state/pathvar.h"
#include "state/projectinfo.h"
#include "state/state.h"
#include "payload/itemcheck.h"
#include "payload/plan.h"
#include "payload/resources.h"
#include "common/registry.h"
#include "common/foreignfiles.h"
#include "common/runfiles.h"
#include "script/script.h"
#include "common/process.h"
#include "ui/progress.h"
#include "res/resource.h"
#include "ui/errortext.h"
#include "ui/msgbox.h"
#include "ui/statusmsg.h"
#include "ui/tray.h"

namespace {

const DWORD BALLOON_INFO = 1;   // NIIF_INFO
const DWORD BALLOON_ERROR = 3;  // NIIF_ERROR
// How long the worker waits for the taskbar button before it goes on.
const DWORD TASKBAR_WAIT_MS = 2000;
const DWORD TASKBAR_POLL_MS = 10;
const DWORD READY_PAUSE_MS = 1000;
const DWORD MESSAGE_PAUSE_MS = 5000;
const DWORD REBOOT_TEXT_CCH = 1024;
const WCHAR SCRIPT_SECTION[] = L"[Scripttrv]";

// What one run of the worker keeps from step to step.
struct WorkerRun {
    HWND hStatus = nullptr;
    DWORD dwError = 0;
    HICON hTrayIcon = nullptr;
    WCHAR szMessage[MESSAGE_TEXT_CCH] = L"";
    BOOL bShowBox = FALSE;
    BOOL bLaunchFailed = FALSE;  // the error is the setup program's start
    BOOL bRestart = FALSE;     // the run asks for a restart instead of a launch
    BOOL bRestarting = FALSE;  // ... and the restart was started
};

bool GoingOn(const WorkerRun& run)
{
    return run.dwError == 0 && !IsCancelled();
}

// Loads one interface string; FALSE when the language has none.
BOOL LoadUiString(UINT uId, LPWSTR szBuffer, size_t cchBuffer)
{
    return LoadStringEx(hInstRes, uId, szBuffer, static_cast<int>(cchBuffer), ChosenLanguageId());
}

void CreateTrayIcon(WorkerRun& run)
{
    if (!run.hStatus || !g_ProjectInfo.bTrayIcon || IsCancelled())
        return;
    run.hTrayIcon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 0, 0,
                   LR_DEFAULTSIZE));
    if (!run.hTrayIcon)
        return;
    WCHAR szText[TITLE_CCH] = L"";
    LoadUiString(IDS_PREPARING, szText, ARRAYSIZE(szText));
    g_SystemTray.Create(hInstRes, run.hStatus, WM_TRAY_CALLBACK, g_szProductNameShort,
                        run.hTrayIcon, TRAY_ICON_ID, FALSE, szText, g_szProductNameShort,
                        BALLOON_INFO, TRAY_BALLOON_SECONDS);
}

// On Windows 7 and later the taskbar button shows progress: give the shell
// a moment to create it.
void WaitForTaskbarButton(const WorkerRun& run)
{
    if (!run.hStatus)
        return;
    LONG_PTR exStyle = GetWindowLongPtrW(run.hStatus, GWL_EXSTYLE);
    if (!IsSevenOrMore() || !(exStyle & WS_EX_APPWINDOW))
        return;
    DebugTrace(L"ThreadUnCompressDATA()->Begin: m_pTaskbarList=%d", g_Progress.m_pTaskbarList);
    DWORD dwStart = GetTickCount();
    while (!g_Progress.m_pTaskbarList && GetTickCount() - dwStart < TASKBAR_WAIT_MS)
        Sleep(TASKBAR_POLL_MS);
}

void ExtractPayload(WorkerRun& run)
{
    ZeroMemory(&g_ExtractFailure, sizeof(g_ExtractFailure));
    // The package's record of its items' bytes, when it has one.
    run.dwError = LoadItemHashes(hInstance);
    if (run.dwError != ERROR_SUCCESS)
        return;
    if (g_hDataRes) {
        DebugTrace(L"ThreadUnCompressDATA()->Extract CAB Ressource!");
        run.dwError = ExtractDATARes(g_hDataRes, g_dwDataResSize);
    } else if (g_bDataFile) {
        DebugTrace(L"ThreadUnCompressDATA()->Extract DATA file");
        run.dwError = ReadDataStruct(ModuleFile, g_dwDataFileOffset, g_ProjectInfo.szTgdFolder,
                                     DataPath, std::vector<DATAFILEINFO>(), g_bForceDownload);
    } else {
        if (g_bPayloadLost)
            run.dwError = ERROR_INVALID_DATA;
        else if (g_bFileList)
            run.dwError = ERROR_FILE_NOT_FOUND;
        DebugTrace(L"ThreadUnCompressDATA()->No Data to Extract!");
    }
}

// A folder the run extracted into that nothing else should be in: what the
// extraction did not write there (a file someone placed in it, a link)
// goes before anything from it runs.
void RemoveForeignFilesFromTarget(WorkerRun& run)
{
    LPCWSTR szTgd = g_ProjectInfo.szTgdFolder;
    if (!GoingOn(run) || !(g_bOwnTgdFolder || IsRunFolder(szTgd)))
        return;
    DWORD dwError = RemoveForeignFiles(szTgd);
    if (dwError != ERROR_SUCCESS) {
        DebugTrace(L"ThreadUnCompressDATA()->%s holds files that are not the package's (%d)", szTgd,
                   dwError);
        run.dwError = dwError;
    }
}

void RunScriptFile(WorkerRun& run, LPCWSTR szFileName)
{
    WCHAR szPath[PATH_CCH];
    PathCombineW(szPath, TempPathTRV, szFileName);
    DebugTrace(L"ThreadUnCompressDATA()->ReadScript(%s)", szPath);
    SCRIPTLIST lines;
    DWORD dwRefused = 0;
    UINT uCount = ReadScript(szPath, SCRIPT_SECTION, lines, &dwRefused);
    // A script over its limits is an error of the package, not nothing to do.
    if (dwRefused)
        run.dwError = dwRefused;
    if (uCount == 0)
        return;
    g_Progress.DefineStep(0, 100, uCount);
    if (run.hStatus && g_Progress.HasMainBar()) {
        g_Progress.GoToMinStep();
        g_Progress.DefineMainBarStep(0, 100);
        WCHAR szText[TITLE_CCH];
        if (LoadUiString(IDS_SETTING, szText, ARRAYSIZE(szText)))
            g_Progress.SetStepText(szText);
    }
    ProcessScript(std::move(lines));
}

void RunInstallScript(WorkerRun& run)
{
    if (!g_ProjectInfo.bRunScript || !GoingOn(run))
        return;
    PathStripPathW(g_ProjectInfo.szScriptFile);
    RunScriptFile(run, g_ProjectInfo.szScriptFile);
}

void FinishPreparation(const WorkerRun& run)
{
    if (!GoingOn(run))
        return;
    // Full bars beside an empty text read as "stuck": say what comes next.
    WCHAR szText[TITLE_CCH] = L"";
    BOOL bReady = LoadUiString(IDS_READY, szText, ARRAYSIZE(szText));
    g_Progress.SetStepText(szText);
    g_Progress.GoToMaxBar(0);
    if (run.hTrayIcon && bReady)
        g_SystemTray.ShowBalloon(szText, g_szProductNameShort, BALLOON_INFO, TRAY_BALLOON_SECONDS);
    // The pause lets the user see the full bars; with the window out of
    // sight there is nothing to see.
    if (run.hStatus && IsWindowVisible(run.hStatus))
        PumpMessagesFor(run.hStatus, READY_PAUSE_MS);
    else
        DebugTrace(L"ThreadUnCompressDATA()->No pause of %u ms: the status window is not visible",
                   READY_PAUSE_MS);
}

// While the setup program runs, the window either stays and says that it
// runs (its progress is the setup program's own, so no bar), or goes out of
// sight.
void PrepareWindowForLaunch(const WorkerRun& run)
{
    if (g_ProjectInfo.bDialogInRun) {
        g_Progress.m_byDisplayFlags = 0;  // the percent texts stay as they are
        WCHAR szText[TITLE_CCH];
        if (LoadUiString(IDS_INSTALLING, szText, ARRAYSIZE(szText)))
            g_Progress.SetStepText(szText);
        if (run.hStatus)
            SendMessageW(run.hStatus, WM_RUNNING_TASK, 0, 0);
    } else {
        if (run.hStatus)
            ShowWindow(run.hStatus, SW_HIDE);
        if (run.hTrayIcon)
            g_SystemTray.HideIcon();
    }
}

// The setup program's command line: the configured one, then /CMDLINE:.
void BuildCommandLine(LPWSTR szCmdLine, size_t cchCmdLine)
{
    szCmdLine[0] = L'\0';
    if (*g_ProjectInfo.szExeCmdLine) {
        StringCchCatW(szCmdLine, cchCmdLine, g_ProjectInfo.szExeCmdLine);
        ExpandPathVar(szCmdLine, cchCmdLine);
    }
    if (*g_szCmdLineParam) {
        StringCchCatW(szCmdLine, cchCmdLine, L" ");
        ExpandPathVar(g_szCmdLineParam, CMDLINE_CCH);
        StringCchCatW(szCmdLine, cchCmdLine, g_szCmdLineParam);
    }
}

void RegisterRestart(WorkerRun& run, LPCWSTR szCmdLine)
{
    run.bRestart = TRUE;
    if (g_ProjectInfo.bLaunchExe && *ExeFile && !IsCancelled()) {
        // The whole buffer is stored: zero it so that only the text counts.
        std::vector<WCHAR> text(REBOOT_TEXT_CCH, L'\0');
        StringCchCopyW(text.data(), REBOOT_TEXT_CCH, ExeFile);
        PathQuoteSpacesW(text.data());
        StringCchCatW(text.data(), REBOOT_TEXT_CCH, L" ");
        StringCchCatW(text.data(), REBOOT_TEXT_CCH, szCmdLine);
        if (RegDBSetKeyValue(HKEY_CURRENT_USER, RUNONCE_KEY, g_ProjectInfo.szProductName, REG_SZ,
                             text.data(), REBOOT_TEXT_CCH * sizeof(WCHAR))) {
            // The command needs its files after the restart; the caller
            // learns that the installation is not complete yet.
            g_bRunOnceWritten = TRUE;
            g_dwExitCode = ERROR_SUCCESS_REBOOT_REQUIRED;
        }
    }
    if (g_bSilent)
        return;
    WCHAR szText[TITLE_CCH * 2] = L"";
    WCHAR szCaption[TITLE_CCH] = L"";
    LoadUiString(IDS_RESTART_TEXT, szText, ARRAYSIZE(szText));
    LoadUiString(IDS_RESTART_CAPTION, szCaption, ARRAYSIZE(szCaption));
    // No is the default: a run nobody answers must not restart the machine
    // by itself; its exit code (3010) asks for the restart instead.
    if (ShowMessageBox(run.hStatus, szText, szCaption, MB_YESNO | MB_DEFBUTTON2) == IDYES)
        run.bRestarting = RebootSystem();
}

// The program's exit code becomes the run's once the program has ended; a
// program that could not be started fails the run with the reason.
void LaunchSetupProgram(WorkerRun& run, LPCWSTR szCmdLine, LPCWSTR szVerb, LPCWSTR szDir)
{
    BOOL bWait = g_ProjectInfo.bDialogInRun || g_ProjectInfo.bDelFiles;
    HANDLE hProcess = nullptr;
    DWORD dwProgramCode = 0;
    if (ExecuteFile(run.hStatus, ExeFile, szCmdLine, szDir, szVerb, bWait,
                    static_cast<int>(g_ProjectInfo.uiExeWinDisplay), &dwProgramCode, &hProcess)) {
        // Its files stay while it runs, even when the run is cancelled.
        if (bWait)
            KeepLaunchedProgram(hProcess);
        if (WaitForProcess(run.hStatus, hProcess, &dwProgramCode) == WAIT_OBJECT_0)
            SetExitCode(dwProgramCode);
        if (run.hStatus)
            ShowWindow(run.hStatus, SW_HIDE);
    } else {
        DWORD dwError = GetLastError();
        run.dwError = dwError ? dwError : ERROR_FILE_NOT_FOUND;
        run.bLaunchFailed = TRUE;
        DebugTrace(L"ThreadUnCompressDATA()->Launch failed (%d)", run.dwError);
    }
    if (hProcess)
        CloseHandle(hProcess);

    WCHAR szText[TITLE_CCH];
    if (GoingOn(run) && bWait && run.hTrayIcon) {
        if (LoadUiString(IDS_COMPLETE, szText, ARRAYSIZE(szText)))
            g_SystemTray.ShowBalloon(szText, g_szProductNameShort, BALLOON_INFO, TRAY_BALLOON_SECONDS);
        PumpMessagesFor(run.hStatus, MESSAGE_PAUSE_MS);
    }
}

void LaunchOrRestart(WorkerRun& run)
{
    if (!(g_ProjectInfo.bLaunchExe || g_ProjectInfo.bNeedReboot) || !GoingOn(run))
        return;
    LPCWSTR szVerb = (g_ProjectInfo.uiLaunchOptions != 0 && IsVistaOrMore()) ? L"RunAs" : L"open";
    WCHAR szDir[PATH_CCH];
    StringCchCopyW(szDir, ARRAYSIZE(szDir), ExeFile);
    PathRemoveFileSpecW(szDir);
    std::vector<WCHAR> cmdLine(CMDLINE_CCH, L'\0');
    BuildCommandLine(cmdLine.data(), CMDLINE_CCH);

    if (g_ProjectInfo.bNeedReboot)
        RegisterRestart(run, cmdLine.data());
    else if (g_ProjectInfo.bLaunchExe && !IsCancelled())
        LaunchSetupProgram(run, cmdLine.data(), szVerb, szDir);
}

// The message for the run's error, in the run's language: what happened,
// what to do, and the code.
void ChooseErrorText(WorkerRun& run)
{
    FAILUREINFO failure = {run.dwError, g_ProjectInfo.szTgdFolder, g_ExtractFailure.ullNeedBytes};
    if (g_ExtractFailure.dwStep != EXTRACT_STEP_NONE)
        failure.szPath = g_ExtractFailure.szPath;
    else if (run.bLaunchFailed)
        failure.szPath = ExeFile;
    if (failure.ullNeedBytes == 0)
        failure.ullNeedBytes = SatAdd(g_dwDataResSize, g_ProjectInfo.uiTotFilesSize);
    ERRORKIND kind = ErrorKindOf(run.dwError, g_ExtractFailure.dwStep == EXTRACT_STEP_DOWNLOAD);
    BuildErrorText(kind, failure, run.szMessage, ARRAYSIZE(run.szMessage));
    // A cancel was the user's own doing: a balloon says it, no box.
    if (kind == ERRORKIND_CANCELLED)
        run.bShowBox = FALSE;
}

void ReportError(WorkerRun& run)
{
    if (run.dwError == 0)
        return;
    run.bShowBox = TRUE;
    g_Progress.SetTaskbarError();
    DebugTrace(L"ThreadUnCompressDATA()->Error=%d", run.dwError);
    ChooseErrorText(run);
    if (!*run.szMessage)
        return;
    if (run.hTrayIcon)
        g_SystemTray.ShowBalloon(run.szMessage, g_szProductNameShort, BALLOON_ERROR,
                                 TRAY_BALLOON_SECONDS);
    if (run.bShowBox)
        ShowErrorBox(run.hStatus, run.szMessage);
    else
        PumpMessagesFor(run.hStatus, MESSAGE_PAUSE_MS);
}

// The run's exit code: the failure's own code, 1223 when cancelled, else
// what the setup program (or the script, or its messages) set, else the
// plain outcome: 1641 or 3010 for a restart, 0 for a completed run.
void SettleExitCode(const WorkerRun& run)
{
    if (run.dwError != 0)
        SetExitCode(run.dwError);
    else if (!g_bExitCodeSet && IsCancelled())
        SetExitCode(ERROR_CANCELLED);
    else if (!g_bExitCodeSet && run.bRestart)
        SetExitCode(run.bRestarting ? ERROR_SUCCESS_REBOOT_INITIATED : ERROR_SUCCESS_REBOOT_REQUIRED);
    else if (!g_bExitCodeSet)
        SetExitCode(ERROR_SUCCESS);
    DebugTrace(L"ThreadUnCompressDATA()->ExitCode=%d", g_dwExitCode);
}

void CleanUp(WorkerRun& run)
{
    if (run.hTrayIcon) {
        g_SystemTray.RemoveIcon();
        DestroyIcon(run.hTrayIcon);
        run.hTrayIcon = nullptr;
    }
    if (run.hStatus)
        SendMessageW(run.hStatus, WM_END_TASK, 0, 0);
}

}  // namespace

DWORD WINAPI ThreadUnCompressDATA(LPVOID lpParam)
{
    WorkerRun run;
    run.hStatus = static_cast<HWND>(lpParam);
    // The shell calls of the launch want COM on the calling thread.
    HRESULT hrCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    CreateTrayIcon(run);
    WaitForTaskbarButton(run);
    ExtractPayload(run);
    // A failed or cancelled extraction leaves a folder that was not the
    // run's own as it found it (the run's own goes at the end anyway).
    if ((run.dwError || IsCancelled()) && !g_bOwnTgdFolder)
        UndoRunFolder(g_ProjectInfo.szTgdFolder);
    RemoveForeignFilesFromTarget(run);
    RunInstallScript(run);
    FinishPreparation(run);
    PrepareWindowForLaunch(run);
    LaunchOrRestart(run);
    ReportError(run);
    SettleExitCode(run);
    CleanUp(run);
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return 0;
}

BOOL RebootSystem()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken))
        return FALSE;
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    BOOL bAdjusted = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid) &&
                     AdjustTokenPrivileges(hToken, FALSE, &tp, 0, nullptr, nullptr) &&
                     GetLastError() == ERROR_SUCCESS;
    CloseHandle(hToken);
    if (!bAdjusted)
        return FALSE;
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
}
