// The run's progress model: a step bar that shows the current phase, a main
// bar that shows the whole run, percent texts, a step text and the taskbar
// button. Until the status window binds its controls every handle is null
// and the object only computes.
#pragma once
#include <windows.h>
#include <shobjidl.h>
#include "common/progress.h"

// The taskbar object is called only on the thread that made it (the status
// window's). Another thread sends this to the parent window, which hands
// it to OnTaskbarMessage: wParam TASKBAR_STATE with the TBPFLAG in lParam,
// or TASKBAR_VALUE with MAKELPARAM(completed, total).
#define WM_SETUP_TASKBAR 0x8017

enum : DWORD {
    PROGRESS_STYLE_NORMAL = 0,
    PROGRESS_STYLE_SMOOTH = 1,
    PROGRESS_STYLE_MARQUEE = 2,
};

class CSetupProgress : public IProgressSink {
public:
    CSetupProgress();
    ~CSetupProgress() override;
    CSetupProgress(const CSetupProgress&) = delete;
    CSetupProgress& operator=(const CSetupProgress&) = delete;

    void Init(HWND hStepBar, DWORD dwMin, DWORD dwMax);
    void DefineStep(DWORD dwMinStep, DWORD dwMaxStep, ULONGLONG ullMaxData) override;
    void DefineMainBarStep(DWORD dwMin, DWORD dwMax) override;
    void DefineData(ULONGLONG ullMaxData) override;
    void GetNewStep(DWORD dwMaxStep, DWORD dwNbData, ULONGLONG ullMaxData) override;
    void NewStep(ULONGLONG ullNbData) override;
    void GoToMaxBar(DWORD dwMilliseconds) override;
    void GoToMaxStep(DWORD dwMilliseconds) override;
    void GoToMinStep() override;
    BOOL ProgressBar(int nShowCommand, int iWhich);
    void SetBarStyle(DWORD dwStyle);
    void SetStepText(LPCWSTR szText) override;
    void SetTaskbarError();
    [[nodiscard]] ITaskbarList3* CreateTaskbarList();
    // The parent window's answer to WM_SETUP_TASKBAR; 1 when handled.
    LRESULT OnTaskbarMessage(WPARAM wParam, LPARAM lParam);
    // bTrace FALSE: the bar did not move since the last traced report.
    void UpdateBar(BOOL bWithMain, BOOL bTrace = TRUE);

    ULONGLONG GetBytesDone() const override { return m_ullBytesDone; }
    void SetBytesDone(ULONGLONG ull) override { m_ullBytesDone = ull; }
    ULONGLONG AddBytesDone(ULONGLONG ull) override { return m_ullBytesDone += ull; }
    BOOL HasMainBar() const override { return m_hMainBar != nullptr; }
    ULONGLONG GetMaxData() const override { return MaxData; }
    DWORD GetMaxBarStep() const override { return MaxBarStep; }
    DWORD GetMaxMainBarStep() const override { return MaxMainBarStep; }

    // Controls, bound by the status window (each may stay null).
    HWND m_hParent;
    HWND m_hStepBar;
    HWND m_hMainBar;
    HWND m_hPercentText;
    HWND m_hMainPercentText;
    HWND m_hStepText;
    HWND m_hSecondText;
    BYTE m_byDisplayFlags;  // 1: percent texts are written

    DWORD MinBar, MaxBar;
    DWORD MinBarStep, MaxBarStep;
    DWORD MinMainBarStep, MaxMainBarStep;
    DWORD m_dwStyle;
    DWORD SizeBarStep;
    ULONGLONG MaxData;
    DWORD Pos;
    DWORD MainPos;
    ULONGLONG m_ullBytesDone;
    ITaskbarList3* m_pTaskbarList;
    DWORD m_dwTaskbarThread;  // the thread that made m_pTaskbarList; 0: any thread

private:
    // What a control was last sent, so that a report that leaves it as it is
    // costs no message (the worker reports every write it makes).
    struct SHOWNVALUE {
        const void* pTarget;  // the control or the taskbar interface
        DWORD dwValue;
    };

    void Pause(LPCWSTR szCaller, DWORD dwMilliseconds) const;
    void SetTaskbarState(TBPFLAG flag);
    void ForgetShownValues();
    static BOOL IsShown(SHOWNVALUE& shown, const void* pTarget, DWORD dwValue);
    void SendPos(HWND hBar, SHOWNVALUE& shown, DWORD dwPos);
    void SendPercent(HWND hText, SHOWNVALUE& shown, int iPercent);
    void SendTaskbarValue(DWORD dwValue);
    void SetTaskbarValue(DWORD dwCompleted, DWORD dwTotal);
    // FALSE when the call was handed to the taskbar object's own thread.
    BOOL OnTaskbarThread(WPARAM wOperation, LPARAM lArgument);

    ULONGLONG m_ullSizeStep;
    ULONGLONG m_ullUpdateStep;
    SHOWNVALUE m_shownStep, m_shownMain, m_shownPercent, m_shownMainPercent, m_shownTaskbar;
    // The position NewStep last traced: a report that leaves the bar where
    // it was says nothing new, and the unpacking reports every write.
    DWORD m_dwTracedPos;
    bool m_bPosTraced;
};

// The run's progress object, bound as the progress sink (common/progress.h).
// Process-wide: fed from the run's thread and by the setup program's
// messages, drawn on the window's thread.
extern CSetupProgress g_Progress;
