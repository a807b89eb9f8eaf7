#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>
#include <string>
#include <vector>
#include "payloadtest.h"
#include "support/tracesink.h"
#include "ui/progress.h"

using namespace payloadtest;

namespace {

struct Window {
    DWORD min, max;
};

// Records the taskbar calls instead of touching the shell.
class FakeTaskbar : public ITaskbarList3 {
public:
    std::vector<std::pair<ULONGLONG, ULONGLONG>> values;
    std::vector<TBPFLAG> states;
    std::vector<DWORD> threads;  // the thread of every call

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override
    {
        values.push_back({done, total});
        threads.push_back(GetCurrentThreadId());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG flag) override
    {
        states.push_back(flag);
        threads.push_back(GetCurrentThreadId());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

// A hidden window holding the controls of the normal status dialog.
class StatusControls {
public:
    explicit StatusControls(bool bMainBar)
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        hParent = CreateWindowExW(0, L"STATIC", L"status", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200,
                                  nullptr, nullptr, nullptr, nullptr);
        hStepBar = Child(PROGRESS_CLASSW, 1500);
        hMainBar = bMainBar ? Child(PROGRESS_CLASSW, 1501) : nullptr;
        hPercent = Child(L"STATIC", 1005);
        hMainPercent = bMainBar ? Child(L"STATIC", 1006) : nullptr;
        hStepText = Child(L"STATIC", 1007);
    }
    ~StatusControls() { DestroyWindow(hParent); }

    void Bind(CSetupProgress& progress)
    {
        progress.Init(hStepBar, 0, 100);
        progress.m_hMainBar = hMainBar;
        progress.m_hStepText = hStepText;
        progress.m_byDisplayFlags = 1;
        progress.m_hPercentText = hPercent;
        progress.m_hMainPercentText = hMainPercent;
    }
    static DWORD BarPos(HWND h) { return static_cast<DWORD>(SendMessageW(h, PBM_GETPOS, 0, 0)); }
    static std::string Text(HWND h)
    {
        WCHAR sz[64] = L"";
        GetWindowTextW(h, sz, 64);
        return Narrow(sz);
    }

    HWND hParent, hStepBar, hMainBar, hPercent, hMainPercent, hStepText;

private:
    HWND Child(LPCWSTR szClass, int id)
    {
        return CreateWindowExW(0, szClass, L"", WS_CHILD, 0, 0, 100, 20, hParent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                               nullptr);
    }
};

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetProgress(progress);
        tracesink::Clear();
    }
    CSetupProgress progress;
};

TEST_F(ProgressTest, ConstructionLeavesNoControlsAndTheFullRange)
{
    CSetupProgress fresh;
    EXPECT_EQ(fresh.m_hStepBar, nullptr);
    EXPECT_EQ(fresh.m_hMainBar, nullptr);
    EXPECT_EQ(fresh.m_pTaskbarList, nullptr);
    EXPECT_EQ(fresh.MinBar, 0u);
    EXPECT_EQ(fresh.MaxBar, 100u);
    EXPECT_EQ(fresh.MinBarStep, 0u);
    EXPECT_EQ(fresh.MaxBarStep, 100u);
    EXPECT_EQ(fresh.MaxMainBarStep, 100u);
    EXPECT_EQ(fresh.MaxData, 0u);
    EXPECT_FALSE(fresh.HasMainBar());
}

TEST_F(ProgressTest, GetNewStepGivesEachItemItsWindow)
{
    const struct {
        const char* what;
        DWORD maxStep;
        std::vector<DWORD> counts;
        std::vector<Window> windows;
        std::vector<DWORD> tmpSizeSteps;
    } cases[] = {
        {"ten items over 100 units", 100, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
         {{0, 10}, {10, 20}, {20, 30}, {30, 40}, {40, 50}, {50, 60}, {60, 70}, {70, 80}, {80, 90},
          {90, 100}},
         {10, 10, 10, 10, 10, 10, 10, 10, 10, 10}},
        {"four items over 2 units", 2, {4, 3, 2, 1}, {{0, 0}, {0, 1}, {1, 2}, {1, 2}}, {4, 2, 2, 1}},
        {"more items than units, same count again", 2, {5, 5, 5}, {{0, 0}, {0, 0}, {0, 0}},
         {5, 5, 5}},
        {"no unit left: no division", 0, {3, 2}, {{0, 0}, {0, 0}}, {3, 2}},
    };
    for (const auto& c : cases) {
        ResetProgress(progress);
        progress.DefineStep(0, c.maxStep, 1000);
        for (size_t i = 0; i < c.counts.size(); ++i) {
            tracesink::Clear();
            progress.GetNewStep(c.maxStep, c.counts[i], 1000);
            EXPECT_EQ(progress.MinBarStep, c.windows[i].min) << c.what << " #" << i;
            EXPECT_EQ(progress.MaxBarStep, c.windows[i].max) << c.what << " #" << i;
            EXPECT_EQ(progress.Pos, c.windows[i].min) << c.what << " #" << i;
            std::string expected = "GetNewStep()->MinBarStep=" + std::to_string(c.windows[i].min) +
                                   " MaxBarStep=" + std::to_string(c.windows[i].max) +
                                   " MaxStep=" + std::to_string(c.maxStep) +
                                   " NbData=" + std::to_string(c.counts[i]) + " NewSizeStep=";
            bool bFound = false;
            for (const std::string& line : tracesink::Lines()) {
                if (line.rfind(expected, 0) == 0) {
                    bFound = true;
                    EXPECT_NE(line.find(" TmpSizeStep=" + std::to_string(c.tmpSizeSteps[i])),
                              std::string::npos)
                        << c.what << " #" << i << ": " << line;
                }
            }
            EXPECT_TRUE(bFound) << c.what << " #" << i << "\n" << tracesink::Dump();
        }
    }
}

TEST_F(ProgressTest, NewStepMovesInsideTheWindow)
{
    const struct {
        const char* what;
        DWORD minStep, maxStep;
        ULONGLONG maxData, nbData;
        DWORD pos;
        ULONGLONG maxDataAfter;
    } cases[] = {
        {"half of a full bar", 0, 100, 1000, 500, 50, 1000},
        {"truncated toward zero", 0, 100, 3, 2, 66, 3},
        {"inside a window", 40, 95, 58470938, 29235469, 67, 58470938},
        {"more than the total stays at the window's end", 10, 20, 100, 1000, 20, 100},
        {"no total: one item fills the bar", 0, 100, 0, 1, 100, 1},
        {"counts beyond 32 bits", 0, 100, 0x300000000ull, 0x100000000ull, 33, 0x300000000ull},
    };
    for (const auto& c : cases) {
        ResetProgress(progress);
        progress.DefineStep(c.minStep, c.maxStep, c.maxData);
        EXPECT_EQ(progress.MaxData, c.maxDataAfter) << c.what;
        progress.NewStep(c.nbData);
        EXPECT_EQ(progress.Pos, c.pos) << c.what;
    }
}

TEST_F(ProgressTest, DefineStepAndNewStepTraceTheirNumbers)
{
    progress.DefineStep(0, 100, 0);
    progress.NewStep(1);
    const char* expected[] = {
        "DefineData()->SizeStep=100 UpdateStep=1 MaxData=1",
        "DefineStep()->MinStep=0, MaxStep=100, MaxData=1 SizeBarStep=100",
        "NewStep()->NbData=1  MaxData=1  SizeBarStep=100  MinBarStep=0",
        "NewStep()->CurUpdateStep=1  Step=100  SizeStep=100",
        "UpdateBar()->MinMainBarStep=0 MaxMainBarStep=100 ",
    };
    for (const char* line : expected)
        EXPECT_TRUE(tracesink::Contains(line)) << line << "\n" << tracesink::Dump();
    tracesink::Clear();
    progress.DefineStep(0, 3, 5000000000ull);
    EXPECT_TRUE(tracesink::Contains("DefineData()->SizeStep=1 UpdateStep=1666666666 MaxData=5000000000"))
        << tracesink::Dump();
}

// The unpacking reports every write: the trace hears of a report only when
// the bar moved, by the report or by anything else since the last one.
TEST_F(ProgressTest, OnlyReportsThatMoveTheBarAreTraced)
{
    auto newSteps = [] {
        std::vector<std::string> steps;
        for (const std::string& line : tracesink::Lines())
            if (line.rfind("NewStep()->CurUpdateStep=", 0) == 0)
                steps.push_back(line.substr(line.find("  Step=") + 2));
        return steps;
    };
    const ULONGLONG total = 1000000;
    progress.DefineStep(0, 100, total);
    tracesink::Clear();
    for (int i = 1; i <= 400; ++i)
        progress.NewStep(total * i / 400);
    std::vector<std::string> steps = newSteps();
    // The first report of a step is traced wherever it leaves the bar.
    ASSERT_EQ(steps.size(), 101u) << tracesink::Dump();
    EXPECT_EQ(steps.front().rfind("Step=0 ", 0), 0u) << steps.front();
    EXPECT_EQ(steps.back().rfind("Step=100 ", 0), 0u) << steps.back();
    EXPECT_FALSE(tracesink::ContainsPrefix("NewStep()->NbData=1000  "));

    const struct {
        const char* what;
        void (*between)(CSetupProgress&);
        size_t traced;  // NewStep lines of a report at the position last traced
    } cases[] = {
        {"nothing moved the bar", [](CSetupProgress&) {}, 0},
        {"the bar went to the step's end", [](CSetupProgress& p) { p.GoToMaxStep(0); }, 1},
        {"a new step began", [](CSetupProgress& p) { p.DefineStep(0, 100, 1000000); }, 1},
    };
    for (const auto& c : cases) {
        progress.DefineStep(0, 100, total);
        progress.NewStep(total / 2);
        c.between(progress);
        tracesink::Clear();
        progress.NewStep(total / 2);
        EXPECT_EQ(newSteps().size(), c.traced) << c.what << "\n" << tracesink::Dump();
        EXPECT_EQ(progress.Pos, 50u) << c.what;
    }
}

TEST_F(ProgressTest, ControlsFollowTheStepAndTheMainBar)
{
    const struct {
        const char* what;
        bool bMainBar;
        DWORD mainMin, mainMax;
        ULONGLONG done;
        DWORD stepPos, mainPos;
        const char* stepText;
        const char* mainText;
    } cases[] = {
        {"normal dialog", true, 40, 95, 500, 50, 67, "50%", "67%"},
        {"normal dialog, start", true, 1, 40, 0, 0, 1, "0%", "1%"},
        {"small dialog: the step bar only", false, 40, 95, 250, 25, 0, "25%", ""},
    };
    for (const auto& c : cases) {
        ResetProgress(progress);
        StatusControls controls(c.bMainBar);
        controls.Bind(progress);
        FakeTaskbar taskbar;
        progress.m_pTaskbarList = &taskbar;
        progress.DefineMainBarStep(c.mainMin, c.mainMax);
        progress.DefineStep(0, 100, 1000);
        tracesink::Clear();
        progress.NewStep(c.done);
        EXPECT_EQ(StatusControls::BarPos(controls.hStepBar), c.stepPos) << c.what;
        EXPECT_EQ(StatusControls::Text(controls.hPercent), c.stepText) << c.what;
        EXPECT_TRUE(tracesink::Contains("UpdateBar()->Step: " + std::to_string(c.stepPos)))
            << c.what;
        ASSERT_FALSE(taskbar.values.empty()) << c.what;
        if (c.bMainBar) {
            EXPECT_EQ(StatusControls::BarPos(controls.hMainBar), c.mainPos) << c.what;
            EXPECT_EQ(StatusControls::Text(controls.hMainPercent), c.mainText) << c.what;
            EXPECT_TRUE(tracesink::Contains("UpdateBar()->MainStep: " + std::to_string(c.mainPos)))
                << c.what;
            EXPECT_EQ(taskbar.values.back().first, c.mainPos) << c.what;
        } else {
            EXPECT_FALSE(tracesink::ContainsPrefix("UpdateBar()->MainStep")) << c.what;
            // The taskbar follows the step bar.
            EXPECT_EQ(taskbar.values.back().first, c.stepPos) << c.what;
        }
        EXPECT_EQ(taskbar.values.back().second, 100u) << c.what;
        progress.m_pTaskbarList = nullptr;
    }
}

TEST_F(ProgressTest, MarqueeStyleShowsNoValueOnTheTaskbar)
{
    StatusControls controls(true);
    controls.Bind(progress);
    FakeTaskbar taskbar;
    progress.m_pTaskbarList = &taskbar;
    SetWindowTextW(controls.hPercent, L"40%");

    progress.SetBarStyle(PROGRESS_STYLE_MARQUEE);
    EXPECT_TRUE(GetWindowLongW(controls.hStepBar, GWL_STYLE) & PBS_MARQUEE);
    EXPECT_EQ(StatusControls::Text(controls.hPercent), "");
    ASSERT_FALSE(taskbar.states.empty());
    EXPECT_EQ(taskbar.states.back(), TBPF_INDETERMINATE);

    taskbar.values.clear();
    progress.NewStep(10);
    progress.GoToMaxStep(0);
    EXPECT_TRUE(taskbar.values.empty());

    const struct {
        int show;
        TBPFLAG state;
    } shows[] = {{SW_SHOW, TBPF_INDETERMINATE}, {SW_HIDE, TBPF_NOPROGRESS}};
    for (const auto& s : shows) {
        EXPECT_EQ(progress.ProgressBar(s.show, 1), 1);
        EXPECT_EQ(taskbar.states.back(), s.state) << s.show;
        bool bVisible = (GetWindowLongW(controls.hMainBar, GWL_STYLE) & WS_VISIBLE) != 0;
        EXPECT_EQ(bVisible, s.show == SW_SHOW) << s.show;
    }

    progress.SetBarStyle(PROGRESS_STYLE_SMOOTH);
    LONG lStyle = GetWindowLongW(controls.hStepBar, GWL_STYLE);
    EXPECT_TRUE(lStyle & PBS_SMOOTH);
    EXPECT_FALSE(lStyle & PBS_MARQUEE);
    EXPECT_EQ(taskbar.states.back(), TBPF_NORMAL);
    progress.SetTaskbarError();
    EXPECT_EQ(taskbar.states.back(), TBPF_ERROR);
    progress.m_pTaskbarList = nullptr;
}

CSetupProgress* g_pRouted;
LRESULT CALLBACK ForwardTaskbar(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_SETUP_TASKBAR)
        return g_pRouted->OnTaskbarMessage(wParam, lParam);
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

DWORD WINAPI ReportFromWorker(LPVOID pv)
{
    CSetupProgress* pProgress = static_cast<CSetupProgress*>(pv);
    pProgress->NewStep(50);
    pProgress->ProgressBar(SW_HIDE, 1);
    pProgress->SetTaskbarError();
    return 0;
}

// The taskbar object is called only on the thread that made it: a worker's
// reports travel there through the parent window.
TEST_F(ProgressTest, TaskbarCallsFromAnotherThreadRunOnTheTaskbarThread)
{
    StatusControls controls(true);
    controls.Bind(progress);
    SetWindowLongPtrW(controls.hParent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ForwardTaskbar));
    g_pRouted = &progress;
    FakeTaskbar taskbar;
    progress.m_pTaskbarList = &taskbar;
    progress.m_dwTaskbarThread = GetCurrentThreadId();
    progress.DefineMainBarStep(0, 100);
    progress.DefineStep(0, 100, 100);

    HANDLE hThread = CreateThread(nullptr, 0, ReportFromWorker, &progress, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    while (MsgWaitForMultipleObjects(1, &hThread, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0);
    CloseHandle(hThread);

    ASSERT_EQ(taskbar.values.size(), 1u);
    EXPECT_EQ(taskbar.values[0], std::make_pair(50ull, 100ull));
    EXPECT_EQ(taskbar.states, (std::vector<TBPFLAG>{TBPF_NOPROGRESS, TBPF_ERROR}));
    for (DWORD dwThread : taskbar.threads)
        EXPECT_EQ(dwThread, GetCurrentThreadId());
    progress.m_pTaskbarList = nullptr;
    progress.m_dwTaskbarThread = 0;
}

TEST_F(ProgressTest, WithoutControlsEveryOperationOnlyComputes)
{
    progress.SetBarStyle(PROGRESS_STYLE_MARQUEE);
    EXPECT_EQ(progress.m_dwStyle, static_cast<DWORD>(PROGRESS_STYLE_NORMAL));
    progress.SetStepText(L"text");
    progress.SetTaskbarError();
    EXPECT_EQ(progress.ProgressBar(SW_HIDE, 0), 1);
    EXPECT_TRUE(tracesink::Contains("ProgressBar=0 State=0")) << tracesink::Dump();
    progress.DefineMainBarStep(3, 42);
    progress.DefineStep(3, 42, 100);
    progress.NewStep(50);
    EXPECT_EQ(progress.Pos, 22u);
    progress.GoToMaxStep(0);
    EXPECT_EQ(progress.Pos, 42u);
    progress.GoToMaxBar(0);
    EXPECT_EQ(progress.Pos, 100u);
    progress.GoToMinStep();
    EXPECT_EQ(progress.Pos, 3u);
    EXPECT_FALSE(tracesink::ContainsPrefix("UpdateBar()->Step:"));
}

TEST_F(ProgressTest, InitBindsTheStepBarAndStartsAtTheMinimum)
{
    StatusControls controls(false);
    SendMessageW(controls.hStepBar, PBM_SETPOS, 70, 0);
    progress.Init(controls.hStepBar, 0, 100);
    EXPECT_EQ(progress.m_hParent, controls.hParent);
    EXPECT_EQ(StatusControls::BarPos(controls.hStepBar), 0u);
    EXPECT_TRUE(tracesink::ContainsPrefix("Init()->ProgressBar=0x")) << tracesink::Dump();
    EXPECT_TRUE(tracesink::Contains("GoToMinStep()->MinBarStep=0"));
    progress.m_hStepText = controls.hStepText;
    progress.SetStepText(L"Extracting program files...");
    EXPECT_EQ(StatusControls::Text(controls.hStepText), "Extracting program files...");
}

// What each control was sent, recorded by a subclass procedure.
struct SentValues {
    std::vector<DWORD> positions;
    std::vector<std::string> texts;
};
std::vector<std::pair<HWND, SentValues>> g_sent;

SentValues& SentTo(HWND hWnd)
{
    for (auto& entry : g_sent) {
        if (entry.first == hWnd)
            return entry.second;
    }
    g_sent.push_back({hWnd, SentValues()});
    return g_sent.back().second;
}

LRESULT CALLBACK RecordingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR)
{
    if (uMsg == PBM_SETPOS)
        SentTo(hWnd).positions.push_back(static_cast<DWORD>(wParam));
    else if (uMsg == WM_SETTEXT)
        SentTo(hWnd).texts.push_back(Narrow(reinterpret_cast<LPCWSTR>(lParam)));
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

template <class T>
bool RepeatsAValue(const std::vector<T>& values)
{
    for (size_t i = 1; i < values.size(); ++i) {
        if (values[i] == values[i - 1])
            return true;
    }
    return false;
}

// The unpacking reports every write; the controls hear only of changes.
TEST_F(ProgressTest, ControlsAreSentOnlyWhatChanges)
{
    StatusControls controls(true);
    controls.Bind(progress);
    FakeTaskbar taskbar;
    progress.m_pTaskbarList = &taskbar;
    g_sent.clear();
    for (HWND h : {controls.hStepBar, controls.hMainBar, controls.hPercent, controls.hMainPercent})
        SetWindowSubclass(h, RecordingProc, 1, 0);

    const ULONGLONG total = 1000000;
    const int reports = 400;
    progress.DefineMainBarStep(40, 95);
    progress.DefineStep(0, 100, total);
    for (int i = 1; i <= reports; ++i)
        progress.NewStep(total * i / reports);

    const struct {
        const char* what;
        const std::vector<DWORD>* positions;
        const std::vector<std::string>* texts;
        DWORD lastPos;
        const char* lastText;
    } cases[] = {
        {"step bar", &SentTo(controls.hStepBar).positions, nullptr, 100, nullptr},
        {"main bar", &SentTo(controls.hMainBar).positions, nullptr, 95, nullptr},
        {"step percent", nullptr, &SentTo(controls.hPercent).texts, 0, "100%"},
        {"main percent", nullptr, &SentTo(controls.hMainPercent).texts, 0, "95%"},
    };
    for (const auto& c : cases) {
        if (c.positions) {
            ASSERT_FALSE(c.positions->empty()) << c.what;
            EXPECT_FALSE(RepeatsAValue(*c.positions)) << c.what;
            EXPECT_LE(c.positions->size(), 101u) << c.what;
            EXPECT_EQ(c.positions->back(), c.lastPos) << c.what;
        } else {
            ASSERT_FALSE(c.texts->empty()) << c.what;
            EXPECT_FALSE(RepeatsAValue(*c.texts)) << c.what;
            EXPECT_LE(c.texts->size(), 101u) << c.what;
            EXPECT_EQ(c.texts->back(), c.lastText) << c.what;
        }
    }
    std::vector<ULONGLONG> shown;
    for (const auto& v : taskbar.values)
        shown.push_back(v.first);
    EXPECT_FALSE(RepeatsAValue(shown));
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), 95u);

    // A new step draws afresh, even at the same position.
    SentTo(controls.hStepBar).positions.clear();
    progress.DefineStep(0, 100, total);
    progress.NewStep(total);
    EXPECT_EQ(SentTo(controls.hStepBar).positions, std::vector<DWORD>{100});
    progress.m_pTaskbarList = nullptr;
    for (HWND h : {controls.hStepBar, controls.hMainBar, controls.hPercent, controls.hMainPercent})
        RemoveWindowSubclass(h, RecordingProc, 1);
}

// The pacing pauses are for the eye: without a visible status window the
// run goes straight on and says so.
TEST_F(ProgressTest, PausesOnlyWhileTheStatusWindowIsVisible)
{
    const struct {
        const char* what;
        bool bBound;
        bool bVisible;
        bool bPaused;
    } cases[] = {
        {"no status window", false, false, false},
        {"hidden status window (silent run)", true, false, false},
        {"visible status window", true, true, true},
    };
    StatusControls controls(true);
    for (const auto& c : cases) {
        ResetProgress(progress);
        if (c.bBound)
            controls.Bind(progress);
        ShowWindow(controls.hParent, c.bVisible ? SW_SHOWNOACTIVATE : SW_HIDE);
        tracesink::Clear();
        progress.GoToMaxStep(20);
        progress.GoToMaxBar(20);
        progress.GoToMaxStep(0);
        const char* skipped[] = {
            "GoToMaxStep()->No pause of 20 ms: the status window is not visible",
            "GoToMaxBar()->No pause of 20 ms: the status window is not visible",
        };
        for (const char* line : skipped)
            EXPECT_EQ(tracesink::Contains(line), !c.bPaused) << c.what << "\n" << tracesink::Dump();
        // A pause of no length is no pause at all.
        EXPECT_FALSE(tracesink::ContainsPrefix("GoToMaxStep()->No pause of 0 ms")) << c.what;
        EXPECT_EQ(progress.Pos, 100u) << c.what;
    }
}

}  // namespace
