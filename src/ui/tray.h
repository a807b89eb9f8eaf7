// The program's icon in the notification area, with balloon tips and a
// small menu, shown while a setup run works (silent runs included).
#pragma once
#include <windows.h>
#include <shellapi.h>

// Callback message of the tray icon; the status window hands it back to
// g_SystemTray.OnTrayNotification().
#define WM_TRAY_CALLBACK 0x8036

enum : unsigned {
    TRAY_ICON_ID = 138,          // icon id, also the id of the icon's menu
    TRAY_BALLOON_SECONDS = 5,    // time-out of every balloon of a run
    TRAY_TIP_CCH = 128,          // tooltip: 127 characters kept
    TRAY_BALLOON_TEXT_CCH = 256, // balloon text: 255 characters kept
    TRAY_BALLOON_TITLE_CCH = 64, // balloon title: 63 characters kept
};

class CSystemTray {
public:
    CSystemTray();
    virtual ~CSystemTray();

    // Mouse messages of the icon: right button up shows the menu, a double
    // click posts the default command to the target window. 1 when handled.
    virtual LRESULT OnTrayNotification(WPARAM wParam, LPARAM lParam);
    // Called with the popup menu before it is shown; nothing by default.
    virtual void CustomizeMenu(HMENU hMenu);

    // Adds the icon (and shows its first balloon when szBalloonTip is given).
    // hInst holds menu uID; notifications go to hParent (the own window when
    // null). dwBalloonIcon is NIIF_INFO, NIIF_ERROR...
    [[nodiscard]] BOOL Create(HINSTANCE hInst, HWND hParent, UINT uCallbackMessage,
                              LPCWSTR szToolTip, HICON hIcon, UINT uID, BOOL bHidden,
                              LPCWSTR szBalloonTip, LPCWSTR szBalloonTitle, DWORD dwBalloonIcon,
                              UINT uBalloonSeconds);
    // Replaces the balloon of the icon. Needs Windows 2000 or later.
    [[nodiscard]] BOOL ShowBalloon(LPCWSTR szText, LPCWSTR szTitle, DWORD dwIcon, UINT uSeconds);
    // Hides the icon (removes it where hiding is not supported).
    [[nodiscard]] BOOL HideIcon();
    [[nodiscard]] BOOL RemoveIcon();

    HWND GetOwnWindow() const { return m_hWnd; }
    BOOL IsRemoved() const { return m_bRemoved; }
    BOOL IsHidden() const { return m_bHidden; }
    const NOTIFYICONDATAW& GetNotifyData() const { return m_tnd; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    [[nodiscard]] BOOL CreateOwnWindow();

    NOTIFYICONDATAW m_tnd;
    HINSTANCE m_hInstance;
    HWND m_hWnd;              // message-only "TrayIconClass" window
    BOOL m_bEnabled;          // shell version 4 or later
    BOOL m_bHidden;
    BOOL m_bRemoved;
    BOOL m_bShowIconPending;
    BOOL m_bWin2K;            // NT 5 or later: balloons and hidden state
    HWND m_hTargetWnd;        // receives notifications and menu commands
    UINT m_uCreationFlags;
    UINT m_uDefaultMenuItem;  // position in the popup menu
};

// Process-wide: the one icon the shell knows for this program; the status
// window routes the shell's notifications to it.
extern CSystemTray g_SystemTray;
