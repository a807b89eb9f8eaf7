#include "ui/progress.h"
#include <commctrl.h>
#include "common/boundedtext.h"
#include "common/osversion.h"
#include "common/trace.h"

CSetupProgress g_Progress;

namespace {

// The run's one progress object is where long operations report.
const bool g_bProgressBound = (SetProgressSink(&g_Progress), true);

}  // namespace

namespace {

const UINT PBM_SETPOS_MSG = 0x0402;
const UINT MARQUEE_INTERVAL_MS = 50;
const size_t PERCENT_CCH = 16;

// Shared by every GetNewStep call of the process: the width of each item's
// window, and the item count the "more items than units" rule counts down.
DWORD g_dwNewSizeStep;
DWORD g_dwTmpSizeStep;
BOOL g_bTmpSizeStepSet;

}  // namespace

CSetupProgress::CSetupProgress()
    : m_hParent(nullptr), m_hStepBar(nullptr), m_hMainBar(nullptr), m_hPercentText(nullptr),
      m_hMainPercentText(nullptr), m_hStepText(nullptr), m_hSecondText(nullptr),
      m_byDisplayFlags(0), MinBar(0), MaxBar(100), MinBarStep(0), MaxBarStep(100),
      MinMainBarStep(0), MaxMainBarStep(100), m_dwStyle(PROGRESS_STYLE_NORMAL),
      SizeBarStep(100), MaxData(0), Pos(0), MainPos(0), m_ullBytesDone(0),
      m_pTaskbarList(nullptr), m_dwTaskbarThread(0), m_ullSizeStep(0), m_ullUpdateStep(0)
{
    ForgetShownValues();
    // The object is built before the trace sink of a test or any monitor
    // lookup may happen, so nothing here traces; the OS test is made when
    // the taskbar interface is first asked for.
}

CSetupProgress::~CSetupProgress()
{
    if (&Progress() == this)
        SetProgressSink(nullptr);
}

// The pauses pace the bars for the eye: a run whose status window is out of
// sight (silent, or not bound at all) goes straight on.
void CSetupProgress::Pause(LPCWSTR szCaller, DWORD dwMilliseconds) const
{
    if (!dwMilliseconds)
        return;
    if (!m_hParent || !IsWindowVisible(m_hParent)) {
        DebugTrace(L"%s()->No pause of %u ms: the status window is not visible", szCaller,
                   dwMilliseconds);
        return;
    }
    Sleep(dwMilliseconds);
}

void CSetupProgress::ForgetShownValues()
{
    m_shownStep = m_shownMain = m_shownPercent = m_shownMainPercent = m_shownTaskbar =
        SHOWNVALUE{nullptr, 0};
    m_dwTracedPos = 0;
    m_bPosTraced = false;
}

// TRUE when the target already shows the value; otherwise records it.
BOOL CSetupProgress::IsShown(SHOWNVALUE& shown, const void* pTarget, DWORD dwValue)
{
    if (shown.pTarget == pTarget && shown.dwValue == dwValue)
        return TRUE;
    shown.pTarget = pTarget;
    shown.dwValue = dwValue;
    return FALSE;
}

void CSetupProgress::SendPos(HWND hBar, SHOWNVALUE& shown, DWORD dwPos)
{
    if (!IsShown(shown, hBar, dwPos))
        SendMessageW(hBar, PBM_SETPOS_MSG, dwPos, 0);
}

void CSetupProgress::SendPercent(HWND hText, SHOWNVALUE& shown, int iPercent)
{
    if (IsShown(shown, hText, static_cast<DWORD>(iPercent)))
        return;
    WCHAR szPercent[PERCENT_CCH];
    // A percentage fits.
    (void)StringCchPrintfW(szPercent, PERCENT_CCH, L"%d%%", iPercent);
    SendMessageW(hText, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(szPercent));
}

void CSetupProgress::SendTaskbarValue(DWORD dwValue)
{
    if (!IsShown(m_shownTaskbar, m_pTaskbarList, dwValue))
        SetTaskbarValue(dwValue, MaxBar);
}

namespace {

const WPARAM TASKBAR_STATE = 0;
const WPARAM TASKBAR_VALUE = 1;

}  // namespace

BOOL CSetupProgress::OnTaskbarThread(WPARAM wOperation, LPARAM lArgument)
{
    if (!m_dwTaskbarThread || m_dwTaskbarThread == GetCurrentThreadId() || !m_hParent)
        return TRUE;
    SendMessageW(m_hParent, WM_SETUP_TASKBAR, wOperation, lArgument);
    return FALSE;
}

void CSetupProgress::SetTaskbarState(TBPFLAG flag)
{
    if (m_pTaskbarList && m_hParent) {
        if (OnTaskbarThread(TASKBAR_STATE, flag))
            m_pTaskbarList->SetProgressState(m_hParent, flag);
        // A new state may show the value afresh.
        m_shownTaskbar = SHOWNVALUE{nullptr, 0};
    }
}

void CSetupProgress::SetTaskbarValue(DWORD dwCompleted, DWORD dwTotal)
{
    if (m_pTaskbarList && OnTaskbarThread(TASKBAR_VALUE, MAKELPARAM(dwCompleted, dwTotal)))
        m_pTaskbarList->SetProgressValue(m_hParent, dwCompleted, dwTotal);
}

LRESULT CSetupProgress::OnTaskbarMessage(WPARAM wParam, LPARAM lParam)
{
    if (!m_pTaskbarList)
        return 0;
    if (wParam == TASKBAR_STATE)
        m_pTaskbarList->SetProgressState(m_hParent, static_cast<TBPFLAG>(lParam));
    else if (wParam == TASKBAR_VALUE)
        m_pTaskbarList->SetProgressValue(m_hParent, LOWORD(lParam), HIWORD(lParam));
    else
        return 0;
    return 1;
}

void CSetupProgress::Init(HWND hStepBar, DWORD dwMin, DWORD dwMax)
{
    ForgetShownValues();
    m_hStepBar = hStepBar;
    m_hParent = hStepBar ? GetParent(hStepBar) : nullptr;
    MinBar = dwMin;
    MaxBar = dwMax;
    MinBarStep = MinBar;
    MaxBarStep = MaxBar;
    Pos = MinBarStep;
    SizeBarStep = MaxBarStep - MinBarStep;
    GoToMinStep();
    SetTaskbarState(TBPF_NOPROGRESS);
    DebugTrace(L"Init()->ProgressBar=%#x MinBar=%u MaxBar=%u",
               static_cast<unsigned>(reinterpret_cast<UINT_PTR>(m_hStepBar)), MinBar, MaxBar);
}

void CSetupProgress::DefineStep(DWORD dwMinStep, DWORD dwMaxStep, ULONGLONG ullMaxData)
{
    ForgetShownValues();  // a new step is drawn afresh
    MaxData = ullMaxData;
    MinBarStep = dwMinStep;
    MaxBarStep = dwMaxStep;
    Pos = MinBarStep;
    SizeBarStep = MaxBarStep - MinBarStep;
    DefineData(MaxData);
    DebugTrace(L"DefineStep()->MinStep=%u, MaxStep=%u, MaxData=%I64u SizeBarStep=%u", dwMinStep,
               dwMaxStep, MaxData, SizeBarStep);
}

void CSetupProgress::DefineMainBarStep(DWORD dwMin, DWORD dwMax)
{
    MinMainBarStep = dwMin;
    MaxMainBarStep = dwMax;
    DebugTrace(L"DefineMainBarStep()->MinMainBarStep=%u, MaxMainBarStep=%u", MinMainBarStep,
               MaxMainBarStep);
}

void CSetupProgress::DefineData(ULONGLONG ullMaxData)
{
    MaxData = ullMaxData;
    if (SizeBarStep == 0)
        SizeBarStep = 1;
    if (MaxData == 0)
        MaxData = 1;
    // Informative only: how many bar units one item is worth, or how many
    // items move the bar by one unit.
    if (MaxData <= 0xFFFFFFFFull && MaxData <= SizeBarStep) {
        m_ullSizeStep = SizeBarStep / MaxData;
        m_ullUpdateStep = 1;
    } else {
        m_ullSizeStep = 1;
        m_ullUpdateStep = MaxData / SizeBarStep;
    }
    DebugTrace(L"DefineData()->SizeStep=%I64u UpdateStep=%I64u MaxData=%I64u", m_ullSizeStep,
               m_ullUpdateStep, MaxData);
}

void CSetupProgress::GetNewStep(DWORD dwMaxStep, DWORD dwNbData, ULONGLONG ullMaxData)
{
    if (!g_bTmpSizeStepSet) {
        g_dwTmpSizeStep = dwNbData;
        g_bTmpSizeStepSet = TRUE;
    }
    MaxData = ullMaxData;
    // A fresh DefineStep leaves the window reaching the end of the range.
    BOOL bFirst = (dwMaxStep == MaxBarStep);
    if (bFirst)
        g_dwTmpSizeStep = dwNbData;

    if (dwNbData != 0) {
        DWORD dwRange = dwMaxStep - MinBarStep;
        if (dwNbData <= dwRange) {
            if (bFirst) {
                g_dwNewSizeStep = dwRange / dwNbData;
                MaxBarStep = MinBarStep + g_dwNewSizeStep;
            } else {
                MinBarStep = MaxBarStep;
                MaxBarStep = MinBarStep + g_dwNewSizeStep;
            }
        } else {
            DebugTrace(L"GetNewStep()->TmpSizeStep=%u", g_dwTmpSizeStep);
            // With no unit left the window stays empty; never divide by 0.
            if (dwRange != 0 && dwNbData < g_dwTmpSizeStep) {
                g_dwTmpSizeStep = dwNbData - dwNbData / dwRange;
                g_dwNewSizeStep = 1;
            } else {
                g_dwNewSizeStep = 0;
            }
            if (bFirst) {
                MaxBarStep = MinBarStep;
            } else {
                MinBarStep = MaxBarStep;
                MaxBarStep = MinBarStep + g_dwNewSizeStep;
            }
        }
    }
    DebugTrace(L"GetNewStep()->MinBarStep=%u MaxBarStep=%u MaxStep=%u NbData=%u NewSizeStep=%u "
               L"TmpSizeStep=%u",
               MinBarStep, MaxBarStep, dwMaxStep, dwNbData, g_dwNewSizeStep, g_dwTmpSizeStep);
    DefineStep(MinBarStep, MaxBarStep, MaxData);
}

void CSetupProgress::NewStep(ULONGLONG ullNbData)
{
    // MaxData is 0 only before the first step was defined.
    ULONGLONG ullMaxData = MaxData ? MaxData : 1;
    // The share of the step done, below 1 unless the count passed the total:
    // the product then stays below SizeBarStep and converts safely.
    DWORD dwStep = SizeBarStep;
    if (ullNbData < ullMaxData)
        dwStep = static_cast<DWORD>(
            static_cast<long double>(SizeBarStep) *
            (static_cast<long double>(ullNbData) / static_cast<long double>(ullMaxData)));
    if (MaxBarStep >= MinBarStep && dwStep > MaxBarStep - MinBarStep)
        Pos = MaxBarStep;
    else
        Pos = dwStep + MinBarStep;
    if (Pos > MaxBarStep)
        Pos = MaxBarStep;
    BOOL bMoved = !m_bPosTraced || Pos != m_dwTracedPos;
    if (bMoved) {
        DebugTrace(L"NewStep()->NbData=%I64u  MaxData=%I64u  SizeBarStep=%d  MinBarStep=%d",
                   ullNbData, MaxData, SizeBarStep, MinBarStep);
        DebugTrace(L"NewStep()->CurUpdateStep=%I64u  Step=%d  SizeStep=%I64u", ullNbData, Pos,
                   m_ullSizeStep);
    }
    UpdateBar(TRUE, bMoved);
}

void CSetupProgress::GoToMaxBar(DWORD dwMilliseconds)
{
    DebugTrace(L"GoToMaxBar()->MaxBar=%u", MaxBar);
    Pos = MaxBar;
    UpdateBar(TRUE);
    Pause(L"GoToMaxBar", dwMilliseconds);
}

void CSetupProgress::GoToMaxStep(DWORD dwMilliseconds)
{
    DebugTrace(L"GoToMaxStep()->MaxBarStep=%u", MaxBarStep);
    Pos = MaxBarStep;
    UpdateBar(TRUE);
    Pause(L"GoToMaxStep", dwMilliseconds);
}

void CSetupProgress::GoToMinStep()
{
    DebugTrace(L"GoToMinStep()->MinBarStep=%u", MinBarStep);
    Pos = MinBarStep;
    UpdateBar(FALSE);
}

BOOL CSetupProgress::ProgressBar(int nShowCommand, int iWhich)
{
    HWND hBar = iWhich == 0 ? m_hStepBar : m_hMainBar;
    HWND hText = iWhich == 0 ? m_hPercentText : m_hMainPercentText;
    DebugTrace(L"ProgressBar=%#x State=%d", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hBar)),
               nShowCommand);
    if (hBar)
        ShowWindow(hBar, nShowCommand);
    if (m_hPercentText && hText)
        ShowWindow(hText, nShowCommand);
    if (nShowCommand != SW_SHOW)
        SetTaskbarState(TBPF_NOPROGRESS);
    else
        SetTaskbarState(m_dwStyle == PROGRESS_STYLE_MARQUEE ? TBPF_INDETERMINATE : TBPF_NORMAL);
    return 1;
}

void CSetupProgress::SetBarStyle(DWORD dwStyle)
{
    if (!m_hStepBar)
        return;
    m_dwStyle = dwStyle;
    ForgetShownValues();
    LONG_PTR lStyle = GetWindowLongPtrW(m_hStepBar, GWL_STYLE);
    switch (dwStyle) {
    case PROGRESS_STYLE_NORMAL:
        SetWindowLongPtrW(m_hStepBar, GWL_STYLE, lStyle & ~(PBS_SMOOTH | PBS_MARQUEE));
        SetTaskbarState(TBPF_NORMAL);
        break;
    case PROGRESS_STYLE_SMOOTH:
        SetWindowLongPtrW(m_hStepBar, GWL_STYLE, (lStyle | PBS_SMOOTH) & ~PBS_MARQUEE);
        SetTaskbarState(TBPF_NORMAL);
        break;
    case PROGRESS_STYLE_MARQUEE:
        SetWindowLongPtrW(m_hStepBar, GWL_STYLE, (lStyle | PBS_MARQUEE) & ~PBS_SMOOTH);
        SendMessageW(m_hStepBar, PBM_SETMARQUEE, TRUE, MARQUEE_INTERVAL_MS);
        if (m_hPercentText)
            SetWindowTextW(m_hPercentText, L"");
        SetTaskbarState(TBPF_INDETERMINATE);
        break;
    default:
        break;
    }
}

void CSetupProgress::SetStepText(LPCWSTR szText)
{
    if (m_hStepText)
        SetWindowTextW(m_hStepText, szText ? szText : L"");
}

void CSetupProgress::SetTaskbarError()
{
    if (m_pTaskbarList && OnTaskbarThread(TASKBAR_STATE, TBPF_ERROR))
        m_pTaskbarList->SetProgressState(m_hParent, TBPF_ERROR);
}

ITaskbarList3* CSetupProgress::CreateTaskbarList()
{
    if (!IsSevenOrMore())
        return m_pTaskbarList;
    if (m_pTaskbarList)
        return m_pTaskbarList;
    ITaskbarList3* pList = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ITaskbarList3, reinterpret_cast<void**>(&pList));
    if (SUCCEEDED(hr) && pList) {
        if (FAILED(pList->HrInit())) {
            pList->Release();
            pList = nullptr;
        }
    } else {
        pList = nullptr;
    }
    m_pTaskbarList = pList;
    m_shownTaskbar = SHOWNVALUE{nullptr, 0};
    m_dwTaskbarThread = pList ? GetCurrentThreadId() : 0;
    return m_pTaskbarList;
}

void CSetupProgress::UpdateBar(BOOL bWithMain, BOOL bTrace)
{
    if (bTrace) {
        m_dwTracedPos = Pos;
        m_bPosTraced = true;
    }
    if (m_hStepBar) {
        if (bTrace)
            DebugTrace(L"UpdateBar()->Step: %u", Pos);
        SendPos(m_hStepBar, m_shownStep, Pos);
    }
    if (bTrace)
        DebugTrace(L"UpdateBar()->MinMainBarStep=%u MaxMainBarStep=%u ", MinMainBarStep,
                   MaxMainBarStep);
    if (m_hMainBar && bWithMain) {
        MainPos = (MaxMainBarStep - MinMainBarStep) * Pos / 100 + MinMainBarStep;
        if (bTrace)
            DebugTrace(L"UpdateBar()->MainStep: %u", MainPos);
        SendPos(m_hMainBar, m_shownMain, MainPos);
    }
    if (m_hPercentText) {
        if (m_byDisplayFlags == 1 && MaxBar != 0)
            SendPercent(m_hPercentText, m_shownPercent,
                        static_cast<int>(static_cast<double>(Pos) / MaxBar * 100.0));
        if (m_hMainPercentText && m_byDisplayFlags == 1)
            SendPercent(m_hMainPercentText, m_shownMainPercent,
                        static_cast<int>(MainPos / 100.0 * 100.0));
    }
    if (m_pTaskbarList && m_dwStyle != PROGRESS_STYLE_MARQUEE) {
        if (m_hMainBar && bWithMain) {
            if (bTrace)
                DebugTrace(L"UpdateBar()->SetProgressValue(%d, %d)", MainPos, MaxMainBarStep);
            SendTaskbarValue(MainPos);
        } else {
            SendTaskbarValue(Pos);
        }
    }
}
