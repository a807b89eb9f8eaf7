#include "ui/statusview.h"
#include <new>
#include "common/cancel.h"
#include "common/osversion.h"
#include "common/process.h"
#include "common/trace.h"
#include "engine/run.h"
#include "res/resource.h"
#include "state/languages.h"
#include "state/runcontext.h"
#include "state/state.h"
#include "ui/msgbox.h"
#include "ui/progress.h"
#include "ui/statusmsg.h"
#include "ui/tray.h"

namespace {

// How long the run waits for the taskbar button before it goes on.
const DWORD TASKBAR_WAIT_MS = 2000;
const DWORD TASKBAR_POLL_MS = 10;
// How long an error balloon stays up when no box follows it.
const DWORD MESSAGE_PAUSE_MS = 5000;

}  // namespace

void StatusView::CreateTrayIcon()
{
    if (!m_hStatus || !m_ctx.project.bTrayIcon || IsCancelled())
        return;
    m_hTrayIcon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 0, 0,
                                                LR_DEFAULTSIZE));
    if (!m_hTrayIcon)
        return;
    // Without the string the icon comes up without its first balloon.
    WCHAR szText[TITLE_CCH] = L"";
    (void)LoadStringEx(hInstRes, IDS_PREPARING, szText, ARRAYSIZE(szText), 0);
    if (!g_SystemTray.Create(hInstRes, m_hStatus, WM_TRAY_CALLBACK, m_ctx.szProductNameShort,
                             m_hTrayIcon, TRAY_ICON_ID, FALSE, szText, m_ctx.szProductNameShort,
                             BALLOON_INFO, TRAY_BALLOON_SECONDS)) {
        // No icon in the notification area: the run goes on without balloons.
        DebugTrace(L"ThreadUnCompressDATA()->No tray icon (%d)", GetLastError());
        DestroyIcon(m_hTrayIcon);
        m_hTrayIcon = nullptr;
    }
}

// On Windows 7 and later the taskbar button shows progress: give the shell
// a moment to create it.
void StatusView::WaitForTaskbarButton()
{
    if (!m_hStatus)
        return;
    LONG_PTR exStyle = GetWindowLongPtrW(m_hStatus, GWL_EXSTYLE);
    if (!IsSevenOrMore() || !(exStyle & WS_EX_APPWINDOW))
        return;
    DebugTrace(L"ThreadUnCompressDATA()->Begin: m_pTaskbarList=%d", g_Progress.m_pTaskbarList);
    DWORD dwStart = GetTickCount();
    while (!g_Progress.m_pTaskbarList && GetTickCount() - dwStart < TASKBAR_WAIT_MS)
        Sleep(TASKBAR_POLL_MS);
}

void StatusView::Begin()
{
    CreateTrayIcon();
    WaitForTaskbarButton();
}

void StatusView::Balloon(LPCWSTR szText, BALLOONKIND kind)
{
    if (m_hTrayIcon)
        // A balloon the shell does not show costs the run nothing.
        (void)g_SystemTray.ShowBalloon(szText, m_ctx.szProductNameShort, kind,
                                       TRAY_BALLOON_SECONDS);
}

BOOL StatusView::IsVisible() const
{
    return m_hStatus && IsWindowVisible(m_hStatus);
}

void StatusView::Pause(DWORD dwMilliseconds)
{
    PumpMessagesFor(m_hStatus, dwMilliseconds);
}

void StatusView::ShowRunning()
{
    g_Progress.m_byDisplayFlags = 0;  // the percent texts stay as they are
    if (m_hStatus)
        SendMessageW(m_hStatus, WM_RUNNING_TASK, 0, 0);
}

void StatusView::Hide()
{
    if (m_hStatus)
        ShowWindow(m_hStatus, SW_HIDE);
    if (m_hTrayIcon)
        (void)g_SystemTray.HideIcon();  // an icon that stays is only seen
}

int StatusView::Ask(LPCWSTR szText, LPCWSTR szCaption, UINT uType)
{
    return ShowMessageBox(m_hStatus, szText, szCaption, uType);
}

void StatusView::MarkFailed()
{
    g_Progress.SetTaskbarError();
}

void StatusView::ShowFailure(LPCWSTR szText, BOOL bBox)
{
    Balloon(szText, BALLOON_ERROR);
    if (bBox)
        ShowErrorBox(m_hStatus, m_ctx.szTitle, szText);
    else
        PumpMessagesFor(m_hStatus, MESSAGE_PAUSE_MS);
}

void StatusView::End()
{
    if (m_hTrayIcon) {
        (void)g_SystemTray.RemoveIcon();  // the shell drops it with the process
        DestroyIcon(m_hTrayIcon);
        m_hTrayIcon = nullptr;
    }
    if (m_hStatus)
        SendMessageW(m_hStatus, WM_END_TASK, 0, 0);
}

HANDLE StartStatusRun(HWND hStatus, SETUPRUN& setup)
{
    // The run's thread owns the view and deletes it when it ends.
    return StartSetupRun(new (std::nothrow) StatusView(hStatus, *setup.pCtx), setup);
}
