#include "engine/run.h"
#include <objbase.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <memory>
#include <new>
#include <vector>
#include "common/cancel.h"
#include "common/checkedmath.h"
#include "common/errors.h"
#include "common/foreignfiles.h"
#include "common/osversion.h"
#include "common/process.h"
#include "common/progress.h"
#include "common/registry.h"
#include "common/runfiles.h"
#include "common/trace.h"
#include "engine/errortext.h"
#include "net/connectivity.h"
#include "net/url.h"
#include "payload/itemcheck.h"
#include "payload/plan.h"
#include "payload/resources.h"
#include "res/resource.h"
#include "script/script.h"
#include "state/languages.h"
#include "state/pathvar.h"
#include "state/runcontext.h"
#include "state/state.h"

namespace {

const DWORD READY_PAUSE_MS = 1000;
const DWORD MESSAGE_PAUSE_MS = 5000;
const DWORD REBOOT_TEXT_CCH = 1024;
const WCHAR SCRIPT_SECTION[] = L"[Scripttrv]";

// What one run keeps from step to step.
struct WorkerRun {
    WorkerRun(IRunView& v, SETUPRUN& s) : view(v), setup(s), ctx(*s.pCtx), payload(s.payload) {}
    IRunView& view;
    SETUPRUN& setup;
    RUNCONTEXT& ctx;
    const PAYLOADFOUND& payload;
    EXTRACTFAILURE failure = {};  // where the extraction failed
    DWORD dwError = 0;
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
    return LoadStringEx(hInstRes, uId, szBuffer, static_cast<int>(cchBuffer), 0);
}

// The connection check runs beside the rest of the run, for the host the
// package's web files come from; whatever needs it waits for its answer.
// It starts with the run rather than before the status window: loading the
// Internet library would hold up the window's creation.
void StartConnectionCheckForPackage(const RUNCONTEXT& ctx)
{
    WCHAR szHostName[URL_HOST_CCH] = L"";
    if (*ctx.project.szWebDownloadUrl)
        SplitURL(ctx.project.szWebDownloadUrl, szHostName, nullptr, nullptr, nullptr, nullptr,
                 nullptr);
    StartConnectionCheck(szHostName[0] ? szHostName : nullptr);
}

void ExtractPayload(WorkerRun& run)
{
    ZeroMemory(&run.failure, sizeof(run.failure));
    // The package's record of its items' bytes, when it has one.
    run.dwError = LoadItemHashes(hInstance);
    if (run.dwError != ERROR_SUCCESS)
        return;
    const PAYLOADFOUND& payload = run.payload;
    if (payload.hDataRes) {
        DebugTrace(L"ThreadUnCompressDATA()->Extract CAB Ressource!");
        run.dwError =
            ExtractDATARes(run.ctx, payload.hDataRes, payload.dwDataResSize, &run.failure);
    } else if (payload.bDataFile) {
        DebugTrace(L"ThreadUnCompressDATA()->Extract DATA file");
        run.dwError =
            ReadDataStruct(run.ctx, run.ctx.szModuleFile, payload.dwDataFileOffset,
                           run.ctx.project.szTgdFolder, run.ctx.szDataPath,
                           std::vector<DATAFILEINFO>(), run.setup.bForceDownload, &run.failure);
    } else {
        if (payload.bLost)
            run.dwError = ERROR_INVALID_DATA;
        else if (run.ctx.bFileList)
            run.dwError = ERROR_FILE_NOT_FOUND;
        DebugTrace(L"ThreadUnCompressDATA()->No Data to Extract!");
    }
}

// A folder the run extracted into that nothing else should be in: what the
// extraction did not write there (a file someone placed in it, a link)
// goes before anything from it runs.
void RemoveForeignFilesFromTarget(WorkerRun& run)
{
    LPCWSTR szTgd = run.ctx.project.szTgdFolder;
    if (!GoingOn(run) || !(run.setup.bOwnTarget || IsRunFolder(szTgd)))
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
    PathCombineW(szPath, run.ctx.szTempTRV, szFileName);
    DebugTrace(L"ThreadUnCompressDATA()->ReadScript(%s)", szPath);
    SCRIPTLIST lines;
    DWORD dwRefused = 0;
    UINT uCount = ReadScript(szPath, SCRIPT_SECTION, lines, &dwRefused);
    // A script over its limits is an error of the package, not nothing to do.
    if (dwRefused)
        run.dwError = dwRefused;
    if (uCount == 0)
        return;
    IProgressSink& progress = Progress();
    progress.DefineStep(0, 100, uCount);
    if (run.view.Owner() && progress.HasMainBar()) {
        progress.GoToMinStep();
        progress.DefineMainBarStep(0, 100);
        WCHAR szText[TITLE_CCH];
        if (LoadUiString(IDS_SETTING, szText, ARRAYSIZE(szText)))
            progress.SetStepText(szText);
    }
    // A script stopped by EXIT or a cancel says so in the cancel flag and the
    // exit code, which the steps after it read.
    (void)ProcessScript(run.ctx, std::move(lines));
}

void RunInstallScript(WorkerRun& run)
{
    if (!run.ctx.project.bRunScript || !GoingOn(run))
        return;
    // The script is the file of that name in the scratch folder; the
    // configuration itself stays as it was read.
    WCHAR szScript[PATH_CCH];
    // Same capacity.
    (void)StringCchCopyW(szScript, ARRAYSIZE(szScript), run.ctx.project.szScriptFile);
    PathStripPathW(szScript);
    RunScriptFile(run, szScript);
}

void FinishPreparation(const WorkerRun& run)
{
    if (!GoingOn(run))
        return;
    // Full bars beside an empty text read as "stuck": say what comes next.
    WCHAR szText[TITLE_CCH] = L"";
    BOOL bReady = LoadUiString(IDS_READY, szText, ARRAYSIZE(szText));
    Progress().SetStepText(szText);
    Progress().GoToMaxBar(0);
    if (bReady)
        run.view.Balloon(szText, BALLOON_INFO);
    // The pause lets the user see the full bars; with the window out of
    // sight there is nothing to see.
    if (run.view.IsVisible())
        run.view.Pause(READY_PAUSE_MS);
    else
        DebugTrace(L"ThreadUnCompressDATA()->No pause of %u ms: the status window is not visible",
                   READY_PAUSE_MS);
}

// While the setup program runs, the window either stays and says that it
// runs (its progress is the setup program's own, so no bar), or goes out of
// sight.
void PrepareWindowForLaunch(const WorkerRun& run)
{
    if (run.ctx.project.bDialogInRun) {
        WCHAR szText[TITLE_CCH];
        if (LoadUiString(IDS_INSTALLING, szText, ARRAYSIZE(szText)))
            Progress().SetStepText(szText);
        run.view.ShowRunning();
    } else {
        run.view.Hide();
    }
}

// The setup program's command line: the configured one, then /CMDLINE:.
// 206 when the two do not fit together: a command cut short would run the
// program with other arguments than the package and the caller gave.
[[nodiscard]] DWORD BuildCommandLine(const SETUPRUN& setup, LPWSTR szCmdLine, size_t cchCmdLine)
{
    const RUNCONTEXT& ctx = *setup.pCtx;
    szCmdLine[0] = L'\0';
    if (*ctx.project.szExeCmdLine) {
        // A configured line is shorter than a path: it fits.
        (void)StringCchCopyW(szCmdLine, cchCmdLine, ctx.project.szExeCmdLine);
        // FALSE: nothing to expand.
        (void)ExpandPathVar(ctx, szCmdLine, static_cast<DWORD>(cchCmdLine));
    }
    if (*setup.szCmdLineParam) {
        std::vector<WCHAR> param(setup.szCmdLineParam,
                                 setup.szCmdLineParam + ARRAYSIZE(setup.szCmdLineParam));
        (void)ExpandPathVar(ctx, param.data(), static_cast<DWORD>(param.size()));
        if (FAILED(StringCchCatW(szCmdLine, cchCmdLine, L" ")) ||
            FAILED(StringCchCatW(szCmdLine, cchCmdLine, param.data())))
            return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

void RegisterRestart(WorkerRun& run, LPCWSTR szCmdLine)
{
    run.bRestart = TRUE;
    if (run.ctx.project.bLaunchExe && *run.ctx.szExeFile && !IsCancelled()) {
        // The whole buffer is stored: zero it so that only the text counts.
        // A path is short enough to take its quotes.
        std::vector<WCHAR> text(REBOOT_TEXT_CCH, L'\0');
        (void)StringCchCopyW(text.data(), REBOOT_TEXT_CCH, run.ctx.szExeFile);
        PathQuoteSpacesW(text.data());
        // A command cut short would run the program with other arguments
        // after the restart: it is not registered, and the run fails.
        if (FAILED(StringCchCatW(text.data(), REBOOT_TEXT_CCH, L" ")) ||
            FAILED(StringCchCatW(text.data(), REBOOT_TEXT_CCH, szCmdLine))) {
            DebugTrace(L"ThreadUnCompressDATA()->The command for after the restart is longer than "
                       L"%u characters: not registered", REBOOT_TEXT_CCH - 1);
            run.dwError = ERROR_FILENAME_EXCED_RANGE;
            return;
        }
        DWORD dwWritten = RegDBSetKeyValue(HKEY_CURRENT_USER, RUNONCE_KEY,
                                           run.ctx.project.szProductName, REG_SZ, text.data(),
                                           REBOOT_TEXT_CCH * sizeof(WCHAR));
        if (dwWritten != ERROR_SUCCESS) {
            // Nothing would run after the restart: a 3010 would say otherwise.
            run.dwError = dwWritten;
            DebugTrace(L"ThreadUnCompressDATA()->The command for after the restart was not "
                       L"registered (%d)", run.dwError);
            return;
        }
        // The command needs its files after the restart; the caller
        // learns that the installation is not complete yet.
        run.setup.bRunOnceWritten = TRUE;
        SetExitCode(ERROR_SUCCESS_REBOOT_REQUIRED, EXITCODE_OUTCOME);
    }
    if (run.setup.bSilent)
        return;
    WCHAR szText[TITLE_CCH * 2] = L"";
    WCHAR szCaption[TITLE_CCH] = L"";
    LoadUiString(IDS_RESTART_TEXT, szText, ARRAYSIZE(szText));
    LoadUiString(IDS_RESTART_CAPTION, szCaption, ARRAYSIZE(szCaption));
    // No is the default: a run nobody answers must not restart the machine
    // by itself; its exit code (3010) asks for the restart instead.
    if (run.view.Ask(szText, szCaption, MB_YESNO | MB_DEFBUTTON2) == IDYES)
        run.bRestarting = RebootSystem() == ERROR_SUCCESS;
}

// The program's exit code becomes the run's once the program has ended; a
// program that could not be started fails the run with the reason.
void LaunchSetupProgram(WorkerRun& run, LPCWSTR szCmdLine, LPCWSTR szVerb, LPCWSTR szDir)
{
    BOOL bWait = run.ctx.project.bDialogInRun || run.ctx.project.bDelFiles;
    HANDLE hProcess = nullptr;
    DWORD dwProgramCode = 0;
    HWND hOwner = run.view.Owner();
    DWORD dwLaunch = ExecuteFile(hOwner, run.ctx.szExeFile, szCmdLine, szDir, szVerb, bWait,
                                 static_cast<int>(run.ctx.project.uiExeWinDisplay),
                                 &dwProgramCode, &hProcess);
    if (dwLaunch == ERROR_SUCCESS) {
        // Its files stay while it runs, even when the run is cancelled.
        if (bWait)
            KeepLaunchedProgram(hProcess);
        if (WaitForProcess(hOwner, hProcess, &dwProgramCode) == WAIT_OBJECT_0)
            SetExitCode(dwProgramCode);
        if (hOwner)
            ShowWindow(hOwner, SW_HIDE);
    } else {
        run.dwError = dwLaunch;
        run.bLaunchFailed = TRUE;
        DebugTrace(L"ThreadUnCompressDATA()->Launch failed (%d)", run.dwError);
    }
    if (hProcess)
        CloseHandle(hProcess);

    WCHAR szText[TITLE_CCH];
    if (GoingOn(run) && bWait && run.view.HasTrayIcon()) {
        if (LoadUiString(IDS_COMPLETE, szText, ARRAYSIZE(szText)))
            run.view.Balloon(szText, BALLOON_INFO);
        run.view.Pause(MESSAGE_PAUSE_MS);
    }
}

void LaunchOrRestart(WorkerRun& run)
{
    if (!(run.ctx.project.bLaunchExe || run.ctx.project.bNeedReboot) || !GoingOn(run))
        return;
    LPCWSTR szVerb = (run.ctx.project.uiLaunchOptions != 0 && IsVistaOrMore()) ? L"RunAs" : L"open";
    WCHAR szDir[PATH_CCH];
    // Same capacity.
    (void)StringCchCopyW(szDir, ARRAYSIZE(szDir), run.ctx.szExeFile);
    PathRemoveFileSpecW(szDir);
    std::vector<WCHAR> cmdLine(CMDLINE_CCH, L'\0');
    DWORD dwFit = BuildCommandLine(run.setup, cmdLine.data(), CMDLINE_CCH);
    if (dwFit != ERROR_SUCCESS) {
        DebugTrace(L"ThreadUnCompressDATA()->The setup program's command line is longer than %u "
                   L"characters: nothing started", CMDLINE_CCH - 1);
        run.dwError = dwFit;
        return;
    }

    if (run.ctx.project.bNeedReboot)
        RegisterRestart(run, cmdLine.data());
    else if (run.ctx.project.bLaunchExe && !IsCancelled())
        LaunchSetupProgram(run, cmdLine.data(), szVerb, szDir);
}

// The message for the run's error, in the run's language: what happened,
// what to do, and the code.
void ChooseErrorText(WorkerRun& run)
{
    FAILUREINFO failure = {run.dwError, run.ctx.project.szTgdFolder, run.failure.ullNeedBytes};
    if (run.failure.dwStep != EXTRACT_STEP_NONE)
        failure.szPath = run.failure.szPath;
    else if (run.bLaunchFailed)
        failure.szPath = run.ctx.szExeFile;
    if (failure.ullNeedBytes == 0)
        failure.ullNeedBytes = SatAdd(run.payload.dwDataResSize, run.ctx.project.uiTotFilesSize);
    ERRORKIND kind = ErrorKindOf(run.dwError, run.failure.dwStep == EXTRACT_STEP_DOWNLOAD);
    BuildErrorText(kind, failure, run.ctx, run.szMessage, ARRAYSIZE(run.szMessage));
    // A cancel was the user's own doing: a balloon says it, no box.
    if (kind == ERRORKIND_CANCELLED)
        run.bShowBox = FALSE;
}

void ReportError(WorkerRun& run)
{
    if (run.dwError == 0)
        return;
    run.bShowBox = TRUE;
    run.view.MarkFailed();
    DebugTrace(L"ThreadUnCompressDATA()->Error=%d", run.dwError);
    ChooseErrorText(run);
    if (!*run.szMessage)
        return;
    run.view.ShowFailure(run.szMessage, run.bShowBox);
}

// The run's exit code: the failure's own code, 1223 when cancelled, else
// what the setup program (or the script, or its messages) set, else the
// plain outcome: 1641 or 3010 for a restart, 0 for a completed run.
void SettleExitCode(const WorkerRun& run)
{
    if (run.dwError != 0)
        SetExitCode(run.dwError);
    else if (!ExitCodeChosen() && IsCancelled())
        SetExitCode(ERROR_CANCELLED);
    else if (!ExitCodeChosen() && run.bRestart)
        SetExitCode(run.bRestarting ? ERROR_SUCCESS_REBOOT_INITIATED : ERROR_SUCCESS_REBOOT_REQUIRED);
    else if (!ExitCodeChosen())
        SetExitCode(ERROR_SUCCESS);
    DebugTrace(L"ThreadUnCompressDATA()->ExitCode=%d", ExitCode());
}

}  // namespace

DWORD RunSetup(IRunView& view, SETUPRUN& setup)
{
    WorkerRun run(view, setup);
    // The shell calls of the launch want COM on the calling thread.
    HRESULT hrCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    StartConnectionCheckForPackage(run.ctx);
    run.view.Begin();
    ExtractPayload(run);
    // A failed or cancelled extraction leaves a folder that was not the
    // run's own as it found it (the run's own goes at the end anyway).
    if ((run.dwError || IsCancelled()) && !run.setup.bOwnTarget)
        UndoRunFolder(run.ctx.project.szTgdFolder);
    RemoveForeignFilesFromTarget(run);
    RunInstallScript(run);
    FinishPreparation(run);
    PrepareWindowForLaunch(run);
    LaunchOrRestart(run);
    ReportError(run);
    SettleExitCode(run);
    run.view.End();
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return 0;
}

DWORD RebootSystem()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // A privilege the account lacks is "adjusted" with 1300 as the last error.
    DWORD dwError = ERROR_SUCCESS;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(hToken, FALSE, &tp, 0, nullptr, nullptr) ||
        GetLastError() != ERROR_SUCCESS)
        dwError = LastErrorOr(ERROR_PRIVILEGE_NOT_HELD);
    CloseHandle(hToken);
    if (dwError != ERROR_SUCCESS)
        return dwError;
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

namespace {

// The run's thread: its view, which it owns, and the run it is given.
struct RUNTHREAD {
    std::unique_ptr<IRunView> view;
    SETUPRUN& setup;
};

// The run's one thread.
DWORD WINAPI ThreadUnCompressDATA(LPVOID lpParam)
{
    std::unique_ptr<RUNTHREAD> thread(static_cast<RUNTHREAD*>(lpParam));
    return RunSetup(*thread->view, thread->setup);
}

}  // namespace

HANDLE StartSetupRun(IRunView* pView, SETUPRUN& setup)
{
    std::unique_ptr<IRunView> view(pView);
    if (!view) {
        SetLastError(ERROR_OUTOFMEMORY);
        return nullptr;
    }
    auto* pThread = new (std::nothrow) RUNTHREAD{std::move(view), setup};
    if (!pThread) {
        SetLastError(ERROR_OUTOFMEMORY);
        return nullptr;
    }
    HANDLE hThread = CreateThread(nullptr, 0, ThreadUnCompressDATA, pThread, 0, nullptr);
    if (!hThread)
        delete pThread;
    return hThread;
}

void LaunchForSetupProgram(HWND hOwner, LPCWSTR szFile, LPCWSTR szCmdLine, LPCWSTR szDir,
                           LPCWSTR szVerb, BOOL bWait, int nShowCmd)
{
    // A program waited for until it ended leaves its code; one not waited
    // for, or cut short, leaves the run's as it was.
    DWORD dwBefore = ExitCode();
    DWORD dwCode = dwBefore;
    if (ExecuteFile(hOwner, szFile, szCmdLine, szDir, szVerb, bWait, nShowCmd, &dwCode,
                    nullptr) == ERROR_SUCCESS &&
        dwCode != dwBefore)
        SetExitCode(dwCode, EXITCODE_OUTCOME);
}
