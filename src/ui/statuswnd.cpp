#include "ui/statuswnd.h"
#include <shellapi.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include "common/cancel.h"
#include "common/osversion.h"
#include "common/trace.h"
#include "state/languages.h"
#include "state/pathvar.h"
#include "state/runcontext.h"
#include "state/state.h"
#include "ui/msgbox.h"
#include "ui/progress.h"
#include "res/resource.h"
#include "ui/tray.h"
#include "engine/run.h"

namespace {

// Id of the registered "TaskbarButtonCreated" message.
UINT m_uiTaskbarBtnCreatedMsg;

HANDLE g_hWorkerThread;
// Set while the destroy handler runs: a late WM_END_TASK must not destroy twice.
bool g_bDestroying;
// Set while the user is asked whether to cancel: one question at a time.
bool g_bAsking;

const DWORD HIDE_ANIMATION_MS = 200;
const DWORD DEFAULT_ANIMATION_MS = 500;
const DWORD ANIMATE_HIDE_FLAGS = AW_HIDE | AW_SLIDE | AW_VER_POSITIVE;
// How long the destroy handler waits for the worker, and in which steps.
const DWORD WORKER_WAIT_MS = 10000;
const DWORD WORKER_WAIT_STEP_MS = 100;
const DWORD SHOW_NORMAL_DEFAULT = SW_SHOWNORMAL;
const BYTE PERCENT_TEXTS_ON = 1;
// Room between the texts and the separator when the window closes up
// around its texts (dialog units).
const int RUNNING_GAP_DLU = 12;
// The progress part of the windows: what goes while the setup program runs.
const int PROGRESS_CONTROLS[] = {IDC_STEP_BAR, IDC_STEP_PERCENT, IDC_SECOND_TEXT, IDC_MAIN_BAR,
                                 IDC_MAIN_PERCENT};

// Answers a private message: the dialog's result travels in DWLP_MSGRESULT.
INT_PTR Reply(HWND hDlg, LONG_PTR lResult)
{
    SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, lResult);
    return TRUE;
}


void SetClassIcons(HWND hDlg)
{
    HINSTANCE hInst = GetModuleHandleW(nullptr);
    HICON hSmall = static_cast<HICON>(
        LoadImageW(hInst, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 16, 16, LR_SHARED));
    HICON hLarge = static_cast<HICON>(
        LoadImageW(hInst, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 32, 32, LR_SHARED));
    if (hSmall)
        SendMessageW(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
    if (hLarge) {
        SendMessageW(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hLarge));
        SendDlgItemMessageW(hDlg, IDC_STATUS_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(hLarge), 0);
    }
}

// Lets the shell's "TaskbarButtonCreated" through to an elevated window.
void AllowTaskbarMessage(HWND hDlg)
{
    typedef BOOL(WINAPI * ChangeFilterExFn)(HWND, UINT, DWORD, void*);
    HMODULE hUser = GetModuleHandleW(L"user32");
    auto pChange = hUser ? reinterpret_cast<ChangeFilterExFn>(
                               GetProcAddress(hUser, "ChangeWindowMessageFilterEx"))
                         : nullptr;
    if (!pChange)
        return;
    struct {
        DWORD cbSize;
        DWORD ExtStatus;
    } filter = {8, 0};
    pChange(hDlg, m_uiTaskbarBtnCreatedMsg, 1 /* MSGFLT_ALLOW */, &filter);
}

// The window's parameters, once WM_INITDIALOG kept them; null before.
const STATUSDLGPARAM* ParamOf(HWND hDlg)
{
    return reinterpret_cast<const STATUSDLGPARAM*>(GetWindowLongPtrW(hDlg, GWLP_USERDATA));
}

// A text of the template's language into a control; every "%s" becomes
// the title. Left as it is when the language has no such string.
void SetLocalizedText(HWND hDlg, int idControl, UINT uString, const STATUSDLGPARAM* pParam)
{
    WCHAR szText[TITLE_TEXT_CCH];
    if (!LoadStringEx(pParam->hModule, uString, szText, TITLE_CCH, pParam->uiLangID))
        return;
    ReplaceAll(szText, ARRAYSIZE(szText), L"%s", pParam->pCtx->szTitle, 0);
    SetDlgItemTextW(hDlg, idControl, szText);
}

// Visible preparation: taskbar button, title, texts, then show.
void PrepareVisibleWindow(HWND hDlg, STATUSDLGPARAM* pParam)
{
    LONG_PTR exStyle = GetWindowLongPtrW(hDlg, GWL_EXSTYLE);
    if (pParam->pSetup && pParam->pSetup->payload.Any()) {
        SetWindowLongPtrW(hDlg, GWL_EXSTYLE, exStyle | WS_EX_APPWINDOW);
        CenterWindowOnWorkArea(hDlg);
    } else {
        // Nothing to extract: the window stays out of sight and off the taskbar.
        SetWindowLongPtrW(hDlg, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW));
        SetWindowPos(hDlg, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    }
    SetWindowTextW(hDlg, pParam->pCtx->szTitle);

    SetLocalizedText(hDlg, IDC_HEADING, IDS_STATUS_TITLE, pParam);
    WCHAR szSubText[TITLE_TEXT_CCH];
    if (GetDlgItemTextW(hDlg, IDC_SUBTEXT, szSubText, TITLE_CCH) > 0) {
        ReplaceAll(szSubText, ARRAYSIZE(szSubText), L"%s", pParam->pCtx->szTitle, 0);
        SetDlgItemTextW(hDlg, IDC_SUBTEXT, szSubText);
    }
    SetLocalizedText(hDlg, IDC_SUBTEXT, IDS_STATUS_CONFIGURING, pParam);
    // Each bar has its words from the start: the step bar its phase, the
    // main bar the whole run.
    SetLocalizedText(hDlg, IDC_STEP_TEXT, IDS_PREPARING, pParam);
    if (GetDlgItem(hDlg, IDC_MAIN_BAR))
        SetLocalizedText(hDlg, IDC_SECOND_TEXT, IDS_STATUS_OVERALL, pParam);

    ShowOrHideWindow(hDlg, TRUE, 0);
}

INT_PTR OnInitDialog(HWND hDlg, STATUSDLGPARAM* pParam)
{
    g_hStatusWnd = hDlg;
    g_bDestroying = false;
    SetWindowLongPtrW(hDlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pParam));
    SetClassIcons(hDlg);
    AllowTaskbarMessage(hDlg);
    if (pParam->pSetup && !pParam->pSetup->bSilent && pParam->pCtx->project.bProgressBar)
        PrepareVisibleWindow(hDlg, pParam);
    SendMessageW(hDlg, WM_READY_TASK, 0, 0);
    return TRUE;
}

void OnReadyTask(HWND hDlg)
{
    DebugTrace(L"StatusProc()->WM_READY_TASK");
    const STATUSDLGPARAM* pParam = ParamOf(hDlg);
    g_Progress.Init(GetDlgItem(hDlg, IDC_STEP_BAR), 0, 100);
    g_Progress.m_hMainBar = GetDlgItem(hDlg, IDC_MAIN_BAR);  // none in the small window
    g_Progress.m_hStepText = GetDlgItem(hDlg, IDC_STEP_TEXT);
    g_Progress.m_hSecondText = GetDlgItem(hDlg, IDC_SECOND_TEXT);
    if (pParam->pCtx->project.bPercent) {
        g_Progress.m_byDisplayFlags = PERCENT_TEXTS_ON;
        g_Progress.m_hPercentText = GetDlgItem(hDlg, IDC_STEP_PERCENT);
        g_Progress.m_hMainPercentText = GetDlgItem(hDlg, IDC_MAIN_PERCENT);
    } else {
        g_Progress.m_hPercentText = nullptr;
        g_Progress.m_hMainPercentText = nullptr;
    }
    g_Progress.SetBarStyle(pParam->pCtx->project.uiStyleProgress);
    g_Progress.ProgressBar(SW_SHOW, 0);

    g_hWorkerThread = pParam->pfnStartRun && pParam->pSetup
                          ? pParam->pfnStartRun(hDlg, *pParam->pSetup)
                          : nullptr;
    DebugTrace(L"StatusProc->CreateThread()->hThread=%#x", g_hWorkerThread);
    if (!g_hWorkerThread)
        SendMessageW(hDlg, WM_END_TASK, 0, 0);
}

void OnEndTask(HWND hDlg)
{
    DebugTrace(L"StatusProc()->WM_END_TASK");
    // While the window is being destroyed its destroy handler owns the
    // worker handle and is waiting on it.
    if (g_bDestroying)
        return;
    if (g_hWorkerThread) {
        CloseHandle(g_hWorkerThread);
        g_hWorkerThread = nullptr;
    }
    DestroyWindow(hDlg);
}

// A cancel by the user goes only when confirmed; while the question is up
// the run goes on, and may end by itself.
BOOL UserConfirmsCancel(HWND hDlg)
{
    if (g_bAsking)
        return FALSE;
    g_bAsking = true;
    BOOL bYes = ConfirmCancel(hDlg, ParamOf(hDlg)->pCtx->szTitle);
    g_bAsking = false;
    if (!IsWindow(hDlg) || g_bDestroying) {
        DebugTrace(L"StatusProc()->the run ended while the cancel was asked");
        return FALSE;
    }
    if (!bYes)
        DebugTrace(L"StatusProc()->Cancel not confirmed: the run goes on");
    return bYes;
}

void OnCancel(HWND hDlg, WPARAM wParam)
{
    DebugTrace(L"StatusProc()->IDCANCEL - wParam=%x lParam=%x", hDlg, LOWORD(wParam));
    if (!UserConfirmsCancel(hDlg))
        return;
    InterlockedExchange(&g_bCancel, 1);
    SendMessageW(hDlg, WM_CLOSE, 0, 0);
}

// Closing the window (Alt+F4, the title bar) cancels the run too; a run
// cancelled already closes without a question.
void OnClose(HWND hDlg)
{
    DebugTrace(L"StatusProc()->WM_CLOSE");
    if (!IsCancelled() && !UserConfirmsCancel(hDlg))
        return;
    InterlockedExchange(&g_bCancel, 1);
    DestroyWindow(hDlg);
}

// A control's place in the client area of its dialog; FALSE without it.
BOOL GetControlRect(HWND hDlg, int id, RECT* prc)
{
    HWND hCtl = GetDlgItem(hDlg, id);
    if (!hCtl || !GetWindowRect(hCtl, prc))
        return FALSE;
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(prc), 2);
    return TRUE;
}

void MoveControlUp(HWND hDlg, int id, const RECT& rc, int dy)
{
    SetWindowPos(GetDlgItem(hDlg, id), nullptr, rc.left, rc.top - dy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// While the setup program runs the window says what runs, in words: the
// progress part goes (that progress is the setup program's own), and the
// normal window closes up around the texts that stay.
void OnRunningTask(HWND hDlg)
{
    DebugTrace(L"StatusProc()->WM_RUNNING_TASK");
    for (int id : PROGRESS_CONTROLS)
        ShowWindow(GetDlgItem(hDlg, id), SW_HIDE);
    g_Progress.ProgressBar(SW_HIDE, 0);
    g_Progress.ProgressBar(SW_HIDE, 1);
    const STATUSDLGPARAM* pParam = ParamOf(hDlg);
    RECT rcText, rcSeparator, rcCancel;
    // The small window keeps its size: its step text says it.
    if (!pParam || !IsWindowVisible(hDlg) || !GetControlRect(hDlg, IDC_SUBTEXT, &rcText) ||
        !GetControlRect(hDlg, IDC_SEPARATOR, &rcSeparator) ||
        !GetControlRect(hDlg, IDCANCEL, &rcCancel))
        return;
    ShowWindow(GetDlgItem(hDlg, IDC_STEP_TEXT), SW_HIDE);
    SetLocalizedText(hDlg, IDC_HEADING, IDS_STATUS_RUNNING, pParam);
    SetLocalizedText(hDlg, IDC_SUBTEXT, IDS_STATUS_RUNNING_TEXT, pParam);

    RECT rcGap = {0, 0, 0, RUNNING_GAP_DLU};
    MapDialogRect(hDlg, &rcGap);
    int dy = rcSeparator.top - (rcText.bottom + rcGap.bottom);
    if (dy <= 0)
        return;
    MoveControlUp(hDlg, IDC_SEPARATOR, rcSeparator, dy);
    MoveControlUp(hDlg, IDCANCEL, rcCancel, dy);
    RECT rcWindow;
    GetWindowRect(hDlg, &rcWindow);
    SetWindowPos(hDlg, nullptr, 0, 0, rcWindow.right - rcWindow.left,
                 rcWindow.bottom - rcWindow.top - dy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Waits for the worker after the window was closed. Messages that the worker
// sends meanwhile are answered, so it reaches its next cancel check and ends
// on its own instead of being terminated with its files still open.
void WaitForWorker()
{
    if (!g_hWorkerThread)
        return;
    DWORD dwStart = GetTickCount();
    DWORD dwWait = WaitForSingleObject(g_hWorkerThread, WORKER_WAIT_STEP_MS);
    while (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_FAILED &&
           GetTickCount() - dwStart < WORKER_WAIT_MS) {
        dwWait = MsgWaitForMultipleObjects(1, &g_hWorkerThread, FALSE, WORKER_WAIT_STEP_MS,
                                           QS_SENDMESSAGE);
        if (dwWait == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            dwWait = WAIT_TIMEOUT;
            continue;
        }
        DebugTrace(L"StatusProc()->WaitForSingleObject=%#x", dwWait);
    }
    DWORD dwExitCode = 0;
    if (GetExitCodeThread(g_hWorkerThread, &dwExitCode)) {
        DebugTrace(L"StatusProc()->dwExitCode=%x", dwExitCode);
        if (dwExitCode == STILL_ACTIVE)
            TerminateThread(g_hWorkerThread, ERROR_CANCELLED);
    }
    CloseHandle(g_hWorkerThread);
    g_hWorkerThread = nullptr;
    DebugTrace(L"StatusProc()->WaitForSingleObject=%#x Time=%d ms", dwWait,
               GetTickCount() - dwStart);
}

void OnDestroy(HWND hDlg)
{
    // First of all: even the trace call below may let the worker's
    // WM_END_TASK in, which must then leave the window and the handle alone.
    g_bDestroying = true;
    DebugTrace(L"StatusProc()->WM_DESTROY");
    InterlockedExchange(&g_bCancel, 1);
    ShowOrHideWindow(hDlg, FALSE, HIDE_ANIMATION_MS);
    WaitForWorker();
    PostQuitMessage(0);
    g_hStatusWnd = nullptr;
}

void OnSetupLaunch(HWND hDlg)
{
    WCHAR szFile[PATH_CCH] = L"";
    GetWindowTextW(hDlg, szFile, ARRAYSIZE(szFile));
    DebugTrace(L"StatusProc()->WM_SETUP_LAUNCH ->File=%s", szFile);
    if (!PathFileExistsW(szFile))
        return;
    WCHAR szDir[PATH_CCH];
    // Same capacity.
    (void)StringCchCopyW(szDir, ARRAYSIZE(szDir), szFile);
    PathRemoveFileSpecW(szDir);
    LaunchForSetupProgram(hDlg, szFile, L"", szDir, L"open", FALSE,
                          static_cast<int>(ParamOf(hDlg)->pCtx->project.uiExeWinDisplay));
}

void OnSetupBegin(WPARAM wParam, LPARAM lParam)
{
    DebugTrace(L"StatusProc()->WM_SETUP_BEGIN - wParam=%x lParam=%x", wParam, lParam);
    ForceForegroundWindow(reinterpret_cast<HWND>(wParam));
}

// A launch request from the setup program. The data comes from another
// process: its size is checked and every text is cut to its field.
void OnLaunchRequest(HWND hDlg, const COPYDATASTRUCT* pCds)
{
    if (!pCds || pCds->dwData != SETUP_COPYDATA_LAUNCH || !pCds->lpData ||
        pCds->cbData < sizeof(SETUPLAUNCHDATA))
        return;
    auto* pData = new SETUPLAUNCHDATA;
    CopyMemory(pData, pCds->lpData, sizeof(*pData));
    pData->szFile[PATH_CCH - 1] = L'\0';
    pData->szCmdLine[CMDLINE_CCH - 1] = L'\0';
    pData->szDirectory[PATH_CCH - 1] = L'\0';
    pData->szVerb[PATH_CCH - 1] = L'\0';

    PathUnquoteSpacesW(pData->szFile);
    DebugTrace(L"StatusProc()->WM_COPYDATA - File=%s", pData->szFile);
    if (PathFileExistsW(pData->szFile)) {
        if (!*pData->szDirectory) {
            (void)StringCchCopyW(pData->szDirectory, PATH_CCH, pData->szFile);
            PathRemoveFileSpecW(pData->szDirectory);
        }
        if (!*pData->szVerb || (!lstrcmpiW(pData->szVerb, L"runas") && !IsVistaOrMore()))
            // Fits.
            (void)StringCchCopyW(pData->szVerb, PATH_CCH, L"open");
        int nShow = pData->dwShowCmd ? static_cast<int>(pData->dwShowCmd) : SHOW_NORMAL_DEFAULT;
        LaunchForSetupProgram(hDlg, pData->szFile, pData->szCmdLine, pData->szDirectory,
                              pData->szVerb, pData->dwWait != 0, nShow);
    }
    delete pData;
}

void RegisterTaskbarButtonMessage()
{
    if (!m_uiTaskbarBtnCreatedMsg)
        m_uiTaskbarBtnCreatedMsg = RegisterWindowMessageW(L"TaskbarButtonCreated");
}

}  // namespace

INT_PTR CALLBACK StatusProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (m_uiTaskbarBtnCreatedMsg && uMsg == m_uiTaskbarBtnCreatedMsg) {
        DebugTrace(L"StatusProc()->m_uiTaskbarBtnCreatedMsg");
        // Without the taskbar's interface the button shows no progress.
        (void)g_Progress.CreateTaskbarList();
        return Reply(hDlg, 0);
    }
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog(hDlg, reinterpret_cast<STATUSDLGPARAM*>(lParam));
    case WM_READY_TASK:
        OnReadyTask(hDlg);
        return Reply(hDlg, 0);
    case WM_END_TASK:
        OnEndTask(hDlg);
        return Reply(hDlg, 0);
    case WM_RUNNING_TASK:
        OnRunningTask(hDlg);
        return Reply(hDlg, 0);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDC_STATUS_CANCEL_ALT)
            OnCancel(hDlg, wParam);
        else if (LOWORD(wParam) == IDC_STATUS_FOREGROUND)
            SetForegroundWindow(hDlg);
        return 0;
    case WM_CLOSE:
        OnClose(hDlg);
        return TRUE;
    case WM_DESTROY:
        OnDestroy(hDlg);
        return TRUE;
    case WM_TRAY_CALLBACK:
        return Reply(hDlg, g_SystemTray.OnTrayNotification(wParam, lParam));
    case MSG_WEBSERVICE_OPEN_URL:
        if (lParam)
            ShellExecuteW(nullptr, L"open", reinterpret_cast<LPCWSTR>(lParam), nullptr, nullptr,
                          SW_SHOWNORMAL);
        return Reply(hDlg, 0);
    case MSG_WEBSERVICE_URL_RETURN:
    case MSG_WEBSERVICE_0F03:
    case MSG_WEBSERVICE_0F04:
        return Reply(hDlg, 0);
    case WM_SET_EXIT_CODE:
        DebugTrace(L"StatusProc()->WM_SET_EXIT_CODE(%d)", static_cast<int>(wParam));
        // On the owner's thread: stored here.
        SetExitCode(static_cast<DWORD>(wParam),
                    lParam == EXITCODE_OUTCOME ? EXITCODE_OUTCOME : EXITCODE_CHOSEN);
        return Reply(hDlg, 1);
    case WM_SETUP_TASKBAR:
        return Reply(hDlg, g_Progress.OnTaskbarMessage(wParam, lParam));
    case WM_SETUP_EXIT:
        DebugTrace(L"StatusProc()->WM_SETUP_EXIT");
        SetExitCode(1);
        return Reply(hDlg, 1);
    case WM_SETUP_END:
        DebugTrace(L"StatusProc()->WM_SETUP_END");
        SetExitCode(0);
        return Reply(hDlg, 1);
    case WM_SETUP_LAUNCH:
        OnSetupLaunch(hDlg);
        return Reply(hDlg, 1);
    case WM_SETUP_BEGIN:
        OnSetupBegin(wParam, lParam);
        return Reply(hDlg, 1);
    case WM_SETUP_HIDE:
        DebugTrace(L"StatusProc()->WM_SETUP_HIDE - wParam=%x lParam=%x", wParam, lParam);
        g_Progress.GoToMaxStep(500);
        g_Progress.ProgressBar(SW_HIDE, 0);
        ShowOrHideWindow(hDlg, FALSE, HIDE_ANIMATION_MS);
        return Reply(hDlg, 1);
    case WM_COPYDATA:
        OnLaunchRequest(hDlg, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        OnSetupBegin(wParam, lParam);
        return Reply(hDlg, 1);
    }
    return FALSE;
}

namespace {

// A template that fails while its window is made still sends WM_DESTROY,
// which ends the run (cancel flag, quit message). That end belongs to the
// failed window only: the window made after it starts afresh.
void ForgetFailedWindow()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    InterlockedExchange(&g_bCancel, 0);
    g_bDestroying = false;
}

}  // namespace

HWND StatusDlg(HWND hParent, STATUSDLGPARAM* pParam)
{
    if (!pParam || !pParam->pCtx) {
        DebugTrace(L"StatusDlg > bad parameters!");
        return nullptr;
    }
    DebugTrace(L"StatusDlg > hWnd == %08.8X, hInst == %d, uiLangID == %d", hParent,
               pParam->hModule, pParam->uiLangID);
    RegisterTaskbarButtonMessage();
    WORD wTemplate = pParam->pCtx->project.byStatusType ? IDD_STATUS_NORMAL : IDD_STATUS_SMALL;
    HWND hDlg = CreateDialogParamW(pParam->hModule, MAKEINTRESOURCEW(wTemplate), hParent,
                                   StatusProc, reinterpret_cast<LPARAM>(pParam));
    HINSTANCE hOwn = GetModuleHandleW(nullptr);
    if (!hDlg && pParam->hModule != hOwn) {
        // The language library's template did not make a window: the run
        // goes on in the program's own English instead of ending unseen.
        DebugTrace(L"StatusDlg > template %d of the language failed (%d), own one used", wTemplate,
                   GetLastError());
        ForgetFailedWindow();
        pParam->hModule = hOwn;
        hDlg = CreateDialogParamW(hOwn, MAKEINTRESOURCEW(wTemplate), hParent, StatusProc,
                                  reinterpret_cast<LPARAM>(pParam));
    }
    if (hDlg) {
        MSG msg;
        for (;;) {
            BOOL bRet = GetMessageW(&msg, nullptr, 0, 0);
            if (bRet == 0)
                break;
            if (bRet == -1) {
                DebugTrace(L"WinMain()->GetMessage() -1");
                break;
            }
            if (IsWindow(hDlg) && (TranslateAcceleratorW(hDlg, nullptr, &msg) ||
                                   IsDialogMessageW(hDlg, &msg)))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    DebugTrace(L"StatusDlg > End(%d)", hDlg);
    return hDlg;
}

void ForceForegroundWindow(HWND hWnd)
{
    if (!hWnd || !IsWindow(hWnd))
        return;
    if (GetForegroundWindow() != hWnd) {
        HWND hFore = GetForegroundWindow();
        DWORD dwForeThread = hFore ? GetWindowThreadProcessId(hFore, nullptr) : 0;
        DWORD dwThread = GetWindowThreadProcessId(hWnd, nullptr);
        if (dwForeThread && dwForeThread != dwThread) {
            AttachThreadInput(dwForeThread, dwThread, TRUE);
            SetForegroundWindow(hWnd);
            AttachThreadInput(dwForeThread, dwThread, FALSE);
            BringWindowToTop(hWnd);
        } else {
            SetForegroundWindow(hWnd);
        }
    }
    ShowWindow(hWnd, IsIconic(hWnd) ? SW_RESTORE : SW_SHOW);
}

void ShowOrHideWindow(HWND hWnd, BOOL bShow, DWORD dwMilliseconds)
{
    if (!hWnd || !IsWindow(hWnd))
        return;
    if (bShow) {
        if (!IsWindowVisible(hWnd)) {
            ShowWindow(hWnd, SW_SHOW);
            InvalidateRect(hWnd, nullptr, TRUE);
            UpdateWindow(hWnd);
            ForceForegroundWindow(hWnd);
        }
    } else if (IsWindowVisible(hWnd)) {
        if (!AnimateWindowIfAvailable(hWnd, dwMilliseconds ? dwMilliseconds : DEFAULT_ANIMATION_MS,
                                      ANIMATE_HIDE_FLAGS))
            ShowWindow(hWnd, SW_HIDE);
    }
}

BOOL AnimateWindowIfAvailable(HWND hWnd, DWORD dwTime, DWORD dwFlags)
{
    typedef BOOL(WINAPI * AnimateWindowFn)(HWND, DWORD, DWORD);
    HMODULE hUser = GetModuleHandleW(L"User32.dll");
    auto pAnimate =
        hUser ? reinterpret_cast<AnimateWindowFn>(GetProcAddress(hUser, "AnimateWindow")) : nullptr;
    return pAnimate ? pAnimate(hWnd, dwTime, dwFlags) : FALSE;
}

void CenterWindowOnWorkArea(HWND hWnd)
{
    RECT rcWnd;
    if (!hWnd || !GetWindowRect(hWnd, &rcWnd))
        return;
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST), &mi))
        return;
    const RECT& work = mi.rcWork;
    LONG cx = rcWnd.right - rcWnd.left;
    LONG cy = rcWnd.bottom - rcWnd.top;
    LONG x = work.left + (work.right - work.left - cx) / 2;
    LONG y = work.top + (work.bottom - work.top - cy) / 2;
    if (y < work.top)
        y = work.top;
    if (y + cy > work.bottom)
        y = work.bottom - cy;
    SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}
