#include "ui/tray.h"
#include "common/boundedtext.h"
#include "common/trace.h"

#define TRAY_WINDOW_CLASS L"TrayIconClass"

static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATAW) == 956,
              "the tray record must have its full Windows Vista size");

CSystemTray g_SystemTray;

namespace {

// Copies a text into a fixed field of the notify record, cutting it to the
// field's capacity.
template <size_t N>
void CopyField(WCHAR (&szField)[N], LPCWSTR szText)
{
    szField[0] = L'\0';
    if (szText)
        // The shell shows what fits its field.
        (void)StringCchCopyW(szField, N, szText);
}

}  // namespace

CSystemTray::CSystemTray()
    : m_tnd(),
      m_hInstance(nullptr),
      m_hWnd(nullptr),
      m_bEnabled(FALSE),
      m_bHidden(FALSE),
      m_bRemoved(FALSE),
      m_bShowIconPending(FALSE),
      m_bWin2K(FALSE),
      m_hTargetWnd(nullptr),
      m_uCreationFlags(0),
      m_uDefaultMenuItem(0)
{
    m_tnd.cbSize = sizeof(m_tnd);
    // Balloons and the hidden state came with the shell of Windows 2000.
    DWORD dwVersion = GetVersion();
    m_bWin2K = !(dwVersion & 0x80000000) && LOBYTE(LOWORD(dwVersion)) >= 5;
}

CSystemTray::~CSystemTray()
{
    (void)RemoveIcon();  // an icon the shell keeps goes when the window does
    if (m_hWnd) {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

BOOL CSystemTray::CreateOwnWindow()
{
    // A message-only window: it lives on the thread that created the icon,
    // which may pump no messages for a while (the worker in a long step),
    // and a message-only window receives no broadcast that could wait for it.
    // A later run on another thread finds it gone with its thread and makes
    // a new one.
    if (m_hWnd && IsWindow(m_hWnd))
        return TRUE;
    m_hWnd = nullptr;

    HINSTANCE hSelf = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = hSelf;
    wc.lpszClassName = TRAY_WINDOW_CLASS;
    if (!RegisterClassExW(&wc)) {
        DWORD dwError = GetLastError();
        if (dwError != ERROR_CLASS_ALREADY_EXISTS) {
            DebugTrace(L"CSystemTray::Create()->RegisterClassEx=%d", dwError);
            return FALSE;
        }
    }
    m_hWnd = CreateWindowExW(0, TRAY_WINDOW_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, hSelf,
                             nullptr);
    if (!m_hWnd) {
        DebugTrace(L"CSystemTray::Create()->CreateWindowEx=%d", GetLastError());
        return FALSE;
    }
    // The window finds its icon through its own data.
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return TRUE;
}

BOOL CSystemTray::Create(HINSTANCE hInst, HWND hParent, UINT uCallbackMessage, LPCWSTR szToolTip,
                         HICON hIcon, UINT uID, BOOL bHidden, LPCWSTR szBalloonTip,
                         LPCWSTR szBalloonTitle, DWORD dwBalloonIcon, UINT uBalloonSeconds)
{
    DWORD dwVersion = GetVersion();
    m_bEnabled = LOBYTE(LOWORD(dwVersion)) >= 4;
    if (!m_bEnabled) {
        DebugTrace(L"CSystemTray::Create()->Shell version %d not supported",
                   LOBYTE(LOWORD(dwVersion)));
        return FALSE;
    }

    // An icon still shown by an earlier call would make the add fail.
    if (m_tnd.hWnd && !m_bRemoved)
        (void)RemoveIcon();  // the add below reports what still fails

    m_hInstance = hInst;
    // The own window's procedure finds the object that made the icon.
    if (!CreateOwnWindow() && !hParent)
        return FALSE;

    m_tnd = NOTIFYICONDATAW();
    m_tnd.cbSize = sizeof(m_tnd);
    m_tnd.hWnd = hParent ? hParent : m_hWnd;
    m_tnd.uID = uID;
    m_tnd.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_tnd.uCallbackMessage = uCallbackMessage;
    m_tnd.hIcon = hIcon;
    CopyField(m_tnd.szTip, szToolTip);

    // The first balloon goes up together with the icon.
    if (m_bWin2K && szBalloonTip && *szBalloonTip) {
        m_tnd.uFlags |= NIF_INFO;
        CopyField(m_tnd.szInfo, szBalloonTip);
        CopyField(m_tnd.szInfoTitle, szBalloonTitle);
        m_tnd.uTimeout = uBalloonSeconds * 1000;
        m_tnd.dwInfoFlags = dwBalloonIcon;
        DebugTrace(L"CSystemTray::Create()->Balloon(%s, %s)", m_tnd.szInfo, m_tnd.szInfoTitle);
    }

    m_bHidden = bHidden;
    m_hTargetWnd = m_tnd.hWnd;
    if (m_bWin2K && bHidden) {
        // Added hidden, but with its icon and callback so that it can be shown later.
        m_tnd.uFlags |= NIF_STATE;
        m_tnd.dwState = NIS_HIDDEN;
        m_tnd.dwStateMask = NIS_HIDDEN;
    }
    m_uCreationFlags = m_tnd.uFlags;

    if (bHidden && !m_bWin2K) {
        // Nothing to add yet on older shells: the icon waits to be shown.
        m_bRemoved = m_bShowIconPending = TRUE;
        DebugTrace(L"CSystemTray::Create()->Hidden, not added");
        return TRUE;
    }

    BOOL bAdded = Shell_NotifyIconW(NIM_ADD, &m_tnd);
    m_bRemoved = m_bShowIconPending = !bAdded;
    m_bHidden = !bAdded || (bHidden && m_bWin2K);
    // Later changes must not show the first balloon again.
    m_tnd.szInfo[0] = L'\0';
    DebugTrace(L"CSystemTray::Create(%s)->NIM_ADD=%d", m_tnd.szTip, bAdded);
    return bAdded;
}

BOOL CSystemTray::ShowBalloon(LPCWSTR szText, LPCWSTR szTitle, DWORD dwIcon, UINT uSeconds)
{
    if (!m_bWin2K) {
        DebugTrace(L"ShowBalloon()->Balloons not supported");
        return FALSE;
    }
    m_tnd.uFlags = NIF_INFO;
    CopyField(m_tnd.szInfo, szText);
    CopyField(m_tnd.szInfoTitle, szTitle);
    m_tnd.dwInfoFlags = dwIcon;
    m_tnd.uTimeout = uSeconds * 1000;
    DebugTrace(L"ShowBalloon(%s, %s)", m_tnd.szInfo, m_tnd.szInfoTitle);

    BOOL bShown = Shell_NotifyIconW(NIM_MODIFY, &m_tnd);
    m_tnd.szInfo[0] = L'\0';
    if (!bShown)
        DebugTrace(L"ShowBalloon()->NIM_MODIFY failed");
    return bShown;
}

BOOL CSystemTray::HideIcon()
{
    if (!m_bEnabled)
        return FALSE;
    if (m_bRemoved || m_bHidden)
        return TRUE;
    if (!m_bWin2K)
        return RemoveIcon();

    m_tnd.uFlags = NIF_STATE;
    m_tnd.dwState = NIS_HIDDEN;
    m_tnd.dwStateMask = NIS_HIDDEN;
    m_bHidden = Shell_NotifyIconW(NIM_MODIFY, &m_tnd);
    DebugTrace(L"HideIcon()->%d", m_bHidden);
    return m_bHidden;
}

BOOL CSystemTray::RemoveIcon()
{
    m_bShowIconPending = FALSE;
    if (!m_bEnabled || m_bRemoved)
        return m_bRemoved;

    m_tnd.uFlags = 0;
    if (Shell_NotifyIconW(NIM_DELETE, &m_tnd))
        m_bHidden = m_bRemoved = TRUE;
    DebugTrace(L"RemoveIcon()->%d", m_bRemoved);
    return m_bRemoved;
}

void CSystemTray::CustomizeMenu(HMENU)
{
}

LRESULT CSystemTray::OnTrayNotification(WPARAM wParam, LPARAM lParam)
{
    if (wParam != m_tnd.uID || !m_hTargetWnd)
        return 0;

    UINT uMouseMsg = LOWORD(lParam);
    if (uMouseMsg != WM_RBUTTONUP && uMouseMsg != WM_LBUTTONDBLCLK)
        return 1;

    // The icon's menu has the icon's id: a popup whose first item is the default.
    HMENU hMenu = LoadMenuW(m_hInstance, MAKEINTRESOURCEW(m_tnd.uID));
    HMENU hSubMenu = hMenu ? GetSubMenu(hMenu, 0) : nullptr;
    if (!hSubMenu) {
        DebugTrace(L"OnTrayNotification()->LoadMenu(%d)=%d", m_tnd.uID, GetLastError());
        if (hMenu)
            DestroyMenu(hMenu);
        return 1;
    }

    if (uMouseMsg == WM_RBUTTONUP) {
        SetMenuDefaultItem(hSubMenu, m_uDefaultMenuItem, TRUE);
        CustomizeMenu(hSubMenu);
        SetForegroundWindow(m_hTargetWnd);
        POINT pt = {};
        GetCursorPos(&pt);
        DebugTrace(L"OnTrayNotification()->WM_RBUTTONUP");
        TrackPopupMenu(hSubMenu, TPM_LEFTALIGN, pt.x, pt.y, 0, m_hTargetWnd, nullptr);
        // Lets the menu close properly when the user clicks elsewhere.
        PostMessageW(m_hTargetWnd, WM_NULL, 0, 0);
    } else {
        UINT uCommand = GetMenuItemID(hSubMenu, static_cast<int>(m_uDefaultMenuItem));
        SetForegroundWindow(m_hTargetWnd);
        DebugTrace(L"OnTrayNotification()->WM_LBUTTONDBLCLK %#x", uCommand);
        if (uCommand != static_cast<UINT>(-1))
            PostMessageW(m_hTargetWnd, WM_COMMAND, uCommand, 0);
    }
    DestroyMenu(hMenu);
    return 1;
}

LRESULT CALLBACK CSystemTray::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pTray = reinterpret_cast<CSystemTray*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pTray && hWnd == pTray->m_hWnd && uMsg == pTray->m_tnd.uCallbackMessage &&
        pTray->m_tnd.uCallbackMessage != 0)
        return pTray->OnTrayNotification(wParam, lParam);
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}
