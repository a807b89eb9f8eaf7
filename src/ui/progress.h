// The run's progress model: a step bar that shows the current phase, a main
// bar that shows the whole run, percent texts, a step text and the taskbar
// button. Until the status window binds its controls every handle is null
// and the object only computes.
#pragma once
#include <windows.h>
#include <shobjidl.h>

enum : DWORD {
    PROGRESS_STYLE_NORMAL = 0,
    PROGRESS_STYLE_SMOOTH = 1,
    PROGRESS_STYLE_MARQUEE = 2,
};

class CSetupProgress {
public:
    CSetupProgress();
    CSetupProgress(const CSetupProgress&) = delete;
    CSetupProgress& operator=(const CSetupProgress&) = delete;

    void Init(HWND hStepBar, DWORD dwMin, DWORD dwMax);
    void DefineStep(DWORD dwMinStep, DWORD dwMaxStep, ULONGLONG ullMaxData);
    void DefineMainBarStep(DWORD dwMin, DWORD dwMax);
    void DefineData(ULONGLONG ullMaxData);
    void GetNewStep(DWORD dwMaxStep, DWORD dwNbData, ULONGLONG ullMaxData);
    void NewStep(ULONGLONG ullNbData);
    void GoToMaxBar(DWORD dwMilliseconds);
    void GoToMaxStep(DWORD dwMilliseconds);
    void GoToMinStep();
    BOOL ProgressBar(int nShowCommand, int iWhich);
    void SetBarStyle(DWORD dwStyle);
    void SetStepText(LPCWSTR szText);
    void SetTaskbarError();
    ITaskbarList3* CreateTaskbarList();
    void UpdateBar(BOOL bWithMain);

    // The running byte (or item) count of the current phase, kept by the
    // routines that move data; they pass it to NewStep.
    ULONGLONG GetBytesDone() const { return m_ullBytesDone; }
    void SetBytesDone(ULONGLONG ull) { m_ullBytesDone = ull; }
    ULONGLONG AddBytesDone(ULONGLONG ull) { return m_ullBytesDone += ull; }

    BOOL HasMainBar() const { return m_hMainBar != nullptr; }

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

    // Tests and benchmarks run without the visible pauses of GoToMaxBar and
    // GoToMaxStep.
    BOOL m_bNoPause;

private:
    void Pause(DWORD dwMilliseconds) const;
    void SetTaskbarState(TBPFLAG flag);

    ULONGLONG m_ullSizeStep;
    ULONGLONG m_ullUpdateStep;
};

extern CSetupProgress g_Progress;
