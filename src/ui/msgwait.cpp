#include "ui/msgwait.h"
#include "common/boundedtext.h"
#include "common/cancel.h"
#include "common/trace.h"
#include "state/state.h"
#include "res/resource.h"
#include "ui/statuswnd.h"

namespace {

// What the wait thread needs. The wait state owns it and frees it only
// once the thread is gone, so the thread may read it for its whole life.
struct MSGWAITREQUEST {
    HINSTANCE hInst;
    HWND volatile hWnd;  // the wait window, written by the thread
    WCHAR szTitle[TITLE_CCH];
    WCHAR szMessage[TITLE_CCH];
    DWORD dwFlags;
    HANDLE hReady;       // set once the window exists (or failed)
};

// The one wait window of the process; all zero when none is up.
struct MSGWAITSTATE {
    HANDLE hThread;
    DWORD dwThreadId;
    HWND hWnd;
    MSGWAITREQUEST* pRequest;
};

MSGWAITSTATE g_MsgWait;

void SetDialogIcons(HWND hDlg, HINSTANCE hInst)
{
    HINSTANCE hModules[] = {hInst, GetModuleHandleW(nullptr)};
    for (HINSTANCE hModule : hModules) {
        HICON hSmall = static_cast<HICON>(LoadImageW(hModule, MAKEINTRESOURCEW(IDI_MAIN),
                                                     IMAGE_ICON, 16, 16, LR_SHARED));
        HICON hLarge = static_cast<HICON>(LoadImageW(hModule, MAKEINTRESOURCEW(IDI_MAIN),
                                                     IMAGE_ICON, 32, 32, LR_SHARED));
        if (!hSmall && !hLarge)
            continue;
        SendMessageW(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
        SendMessageW(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hLarge));
        return;
    }
}

void ForgetWindow(HWND hDlg)
{
    auto* pRequest = reinterpret_cast<MSGWAITREQUEST*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    if (pRequest)
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&pRequest->hWnd),
                                          nullptr, hDlg);
}

INT_PTR CALLBACK MsgWaitProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        DebugTrace(L"MsgWaitProc()->WM_INITDIALOG");
        auto* pRequest = reinterpret_cast<MSGWAITREQUEST*>(lParam);
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        if (pRequest)
            InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&pRequest->hWnd), hDlg);
        SetDialogIcons(hDlg, pRequest ? pRequest->hInst : nullptr);
        if (!pRequest || (pRequest->dwFlags & MSGWAIT_OUT_OF_SIGHT))
            return TRUE;
        CenterWindowOnWorkArea(hDlg);
        HWND hCancel = GetDlgItem(hDlg, IDCANCEL);
        if (hCancel)
            ShowWindow(hCancel, (pRequest->dwFlags & MSGWAIT_SHOW_CANCEL) ? SW_SHOW : SW_HIDE);
        SetWindowTextW(hDlg, pRequest->szTitle);
        SetDlgItemTextW(hDlg, IDC_HEADING, pRequest->szMessage);
        ShowOrHideWindow(hDlg, TRUE, 0);
        return TRUE;
    }
    case WM_CREATE:
        DebugTrace(L"MsgWaitProc()->WM_CREATE");
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            // Only the window goes; the run carries on.
            DebugTrace(L"MsgWaitProc()->IDCANCEL - wParam=%x lParam=%x",
                       static_cast<UINT>(wParam), static_cast<UINT>(lParam));
            DestroyWindow(hDlg);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        DebugTrace(L"MsgWaitProc()->WM_CLOSE");
        InterlockedExchange(&g_bCancel, 1);
        DestroyWindow(hDlg);
        return TRUE;
    case WM_DESTROY:
        DebugTrace(L"MsgWaitProc()->WM_DESTROY");
        ForgetWindow(hDlg);
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}

DWORD RunMsgWaitThread(MSGWAITREQUEST* pRequest)
{
    // The queue exists before anyone can post WM_QUIT to it.
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    HWND hDlg = CreateDialogParamW(pRequest->hInst, MAKEINTRESOURCEW(IDD_MSGWAIT), nullptr,
                                   MsgWaitProc, reinterpret_cast<LPARAM>(pRequest));
    DWORD dwError = hDlg ? 0 : GetLastError();
    DebugTrace(L"ThreadMsgWait()->hDlg=%d", static_cast<int>(reinterpret_cast<INT_PTR>(hDlg)));
    SetEvent(pRequest->hReady);
    if (!hDlg) {
        DebugTrace(L"ThreadMsgWait()->CreateDialogParam=%d", dwError);
        DebugTrace(L"ThreadMsgWait()->End(%d)", 1);
        return 1;
    }

    int iExit = 0;
    for (;;) {
        BOOL bResult = GetMessageW(&msg, nullptr, 0, 0);
        if (bResult == 0) {
            iExit = static_cast<int>(msg.wParam);
            break;
        }
        if (bResult == -1) {
            DebugTrace(L"ThreadMsgWait()->GetMessage() -1");
            break;
        }
        HWND hWnd = pRequest->hWnd;
        if (hWnd && IsDialogMessageW(hWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // Asked to quit with the window still up: it goes with its thread.
    HWND hWnd = pRequest->hWnd;
    if (hWnd && IsWindow(hWnd))
        DestroyWindow(hWnd);
    DebugTrace(L"ThreadMsgWait()->End(%d)", iExit);
    return 0;
}

DWORD WINAPI ThreadMsgWait(LPVOID pParam)
{
    return RunMsgWaitThread(static_cast<MSGWAITREQUEST*>(pParam));
}

// Waits for one of the handles while serving messages that other threads
// send to this one: the wait window's thread may be attached to our input
// queue (bringing its window forward does that) and then blocks until we
// answer. Posted messages stay queued for the caller's own loop.
DWORD WaitServingSends(DWORD dwCount, const HANDLE* pHandles, DWORD dwMilliseconds)
{
    ULONGLONG ullEnd = GetTickCount64() + dwMilliseconds;
    for (;;) {
        ULONGLONG ullNow = GetTickCount64();
        DWORD dwLeft = ullNow >= ullEnd ? 0 : static_cast<DWORD>(ullEnd - ullNow);
        DWORD dwWait = MsgWaitForMultipleObjects(dwCount, pHandles, FALSE, dwLeft, QS_SENDMESSAGE);
        if (dwWait != WAIT_OBJECT_0 + dwCount)
            return dwWait;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void FreeRequest(MSGWAITREQUEST* pRequest)
{
    if (!pRequest)
        return;
    if (pRequest->hReady)
        CloseHandle(pRequest->hReady);
    HeapFree(GetProcessHeap(), 0, pRequest);
}

HWND OpenMsgWait(HINSTANCE hInst, LPCWSTR szTitle, LPCWSTR szMessage, DWORD dwFlags)
{
    auto* pRequest = static_cast<MSGWAITREQUEST*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(MSGWAITREQUEST)));
    if (!pRequest) {
        DebugTrace(L"MsgWaitDlg->End(%d)", 0);
        return nullptr;
    }
    pRequest->hInst = hInst;
    pRequest->dwFlags = dwFlags;
    // Only shown.
    (void)StringCchCopyW(pRequest->szTitle, TITLE_CCH, szTitle ? szTitle : L"");
    (void)StringCchCopyW(pRequest->szMessage, TITLE_CCH, szMessage ? szMessage : L"");
    pRequest->hReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    DWORD dwThreadId = 0;
    HANDLE hThread = pRequest->hReady
                         ? CreateThread(nullptr, 0, ThreadMsgWait, pRequest, 0, &dwThreadId)
                         : nullptr;
    DebugTrace(L"MsgWaitDlg->CreateThread()->Thread=%#x ThreadId=%d",
               static_cast<UINT>(reinterpret_cast<UINT_PTR>(hThread)), dwThreadId);
    if (!hThread) {
        DebugTrace(L"MsgWaitDlg->CreateThread()=%d", GetLastError());
        FreeRequest(pRequest);
        DebugTrace(L"MsgWaitDlg->End(%d)", 0);
        return nullptr;
    }
    g_MsgWait.hThread = hThread;
    g_MsgWait.dwThreadId = dwThreadId;
    g_MsgWait.pRequest = pRequest;

    // The thread keeps running: this returns when the window is up, or
    // after the time allowed.
    HANDLE hWaits[] = {pRequest->hReady, hThread};
    WaitServingSends(ARRAYSIZE(hWaits), hWaits, MSGWAIT_OPEN_WAIT_MS);
    HWND hWnd = pRequest->hWnd;
    g_MsgWait.hWnd = hWnd;
    DebugTrace(L"MsgWaitDlg->End(%d)", static_cast<int>(reinterpret_cast<INT_PTR>(hWnd)));
    return hWnd;
}

void CloseMsgWait()
{
    DebugTrace(L"before PostThreadMessage");
    HANDLE hThread = g_MsgWait.hThread;
    BOOL bPosted = PostThreadMessageW(g_MsgWait.dwThreadId, WM_QUIT, 0, 0);
    DWORD dwWait = WAIT_TIMEOUT;
    for (DWORD dwWaited = 0; dwWaited < MSGWAIT_CLOSE_WAIT_MS; dwWaited += MSGWAIT_CLOSE_STEP_MS) {
        dwWait = WaitServingSends(1, &hThread, MSGWAIT_CLOSE_STEP_MS);
        DebugTrace(L"MsgWaitDlg()->WaitForSingleObject=%#x", dwWait);
        if (dwWait != WAIT_TIMEOUT)
            break;
        // A thread still starting up has no queue yet: post again.
        if (!bPosted)
            bPosted = PostThreadMessageW(g_MsgWait.dwThreadId, WM_QUIT, 0, 0);
    }
    DWORD dwExitCode = 0;
    GetExitCodeThread(hThread, &dwExitCode);
    DebugTrace(L"MsgWaitDlg()->dwExitCode=%x", dwExitCode);

    bool bGone = true;
    if (dwExitCode == STILL_ACTIVE) {
        TerminateThread(hThread, 0);
        bGone = WaitServingSends(1, &hThread, MSGWAIT_CLOSE_WAIT_MS) == WAIT_OBJECT_0;
    }
    CloseHandle(hThread);
    // A thread that might still run keeps its request.
    if (bGone)
        FreeRequest(g_MsgWait.pRequest);
    g_MsgWait = MSGWAITSTATE();
}

}  // namespace

HWND MsgWaitDlg(HINSTANCE hInst, LPCWSTR szTitle, LPCWSTR szMessage, DWORD dwFlags)
{
    if (g_MsgWait.hThread) {
        CloseMsgWait();
        return nullptr;
    }
    return OpenMsgWait(hInst, szTitle, szMessage, dwFlags);
}
