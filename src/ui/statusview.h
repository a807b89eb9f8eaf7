// The status window as the setup run's view: its bars, its tray icon and
// the boxes it owns. The window may be null (a run without one): then only
// the boxes remain, owned by nobody.
#pragma once
#include <windows.h>
#include "engine/run.h"

class StatusView : public IRunView {
public:
    StatusView(HWND hStatus, const RUNCONTEXT& ctx) : m_hStatus(hStatus), m_ctx(ctx) {}

    HWND Owner() const override { return m_hStatus; }
    void Begin() override;
    BOOL HasTrayIcon() const override { return m_hTrayIcon != nullptr; }
    void Balloon(LPCWSTR szText, BALLOONKIND kind) override;
    BOOL IsVisible() const override;
    void Pause(DWORD dwMilliseconds) override;
    void ShowRunning() override;
    void Hide() override;
    int Ask(LPCWSTR szText, LPCWSTR szCaption, UINT uType) override;
    void MarkFailed() override;
    void ShowFailure(LPCWSTR szText, BOOL bBox) override;
    void End() override;

private:
    void CreateTrayIcon();
    void WaitForTaskbarButton();

    HWND m_hStatus;
    const RUNCONTEXT& m_ctx;  // the product's name and whether it wants a tray icon
    HICON m_hTrayIcon = nullptr;
};

// The status window's start of its run: a view of the window, and the run
// of the payload on a thread of its own. Returns the thread (the caller
// closes it), or null.
[[nodiscard]] HANDLE StartStatusRun(HWND hStatus, SETUPRUN& setup);
