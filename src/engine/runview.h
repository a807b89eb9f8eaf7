// What the setup run shows and asks while it works. The run only reports;
// the status window, its tray icon and the message boxes implement this,
// and a run without a window gets a view that shows nothing.
#pragma once
#include <windows.h>

enum BALLOONKIND : DWORD {
    BALLOON_INFO = 1,   // NIIF_INFO
    BALLOON_ERROR = 3,  // NIIF_ERROR
};

class IRunView {
public:
    virtual ~IRunView() {}

    // The window that owns the run's boxes and the programs it starts, and
    // whose messages a wait dispatches; null when there is none.
    virtual HWND Owner() const = 0;
    // The run begins: the tray icon comes up, the taskbar button is awaited.
    virtual void Begin() = 0;
    // A balloon over the tray icon; nothing without one.
    virtual BOOL HasTrayIcon() const = 0;
    virtual void Balloon(LPCWSTR szText, BALLOONKIND kind) = 0;
    // TRUE while the person at the screen can see the run.
    virtual BOOL IsVisible() const = 0;
    // Lets the window live for dwMilliseconds (one short pass with 0).
    virtual void Pause(DWORD dwMilliseconds) = 0;
    // The setup program runs and the window stays: it says so, without bars.
    virtual void ShowRunning() = 0;
    // The setup program runs without the window: it and the tray icon go.
    virtual void Hide() = 0;
    // A question; its answer (IDYES, IDNO...), or the default answer of
    // uType when nobody may be asked.
    virtual int Ask(LPCWSTR szText, LPCWSTR szCaption, UINT uType) = 0;
    // The run failed: the taskbar button turns red.
    virtual void MarkFailed() = 0;
    // The failure in words: a balloon, then a box when bBox, else a pause
    // to read the balloon.
    virtual void ShowFailure(LPCWSTR szText, BOOL bBox) = 0;
    // The run is over: the tray icon goes and the window closes.
    virtual void End() = 0;
};
