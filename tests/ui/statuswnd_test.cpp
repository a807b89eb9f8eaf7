// The status window with its worker: shown or hidden, its texts, the
// private messages of the setup program, launch requests and Cancel.
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <string>
#include "state/projectinfo.h"
#include "launcher/runflow.h"
#include "state/state.h"
#include "support/tracesink.h"
#include "res/resource.h"
#include "ui/statusview.h"
#include "ui/statuswnd.h"
#include "support/uitest_util.h"
#include "support/testrun.h"

using uitest::FakeSetup;
using uitest::RecordValues;
using uitest::ScratchDir;
using uitest::Utf8;
using uitest::WindowText;

namespace {

BYTE g_fakeResource;  // an empty DATA resource: a payload with nothing in it

class StatusWindowTest : public ::testing::Test {
protected:
    StatusWindowTest() : m_dir(L"statuswnd") {}

    void SetUp() override
    {
        tracesink::Clear();
        g_bCancel = 0;
        StartExitCode();
        ZeroMemory(&TestRun().project, sizeof(TestRun().project));
        TestRun().project.bProgressBar = 1;
        TestRun().project.byStatusType = 1;
        TestRun().project.bLaunchExe = 1;
        TestRun().project.bDelFiles = 1;
        TestRun().project.bDialogInRun = 1;
        TestRun().project.uiExeWinDisplay = SW_SHOWNORMAL;
        TestRun().project.uiLanguageDefault = 2057;
        hInstRes = uitest::LauncherResources();
        m_setup = SETUPRUN(TestRun());
        m_setup.payload.hDataRes = reinterpret_cast<HGLOBAL>(&g_fakeResource);
        TestRun().bFileList = FALSE;
        lstrcpyW(TestRun().szTitle, L"Demo Product");
        lstrcpyW(TestRun().szProductNameShort, L"Demo Product");
        lstrcpyW(TestRun().szExeFile, FakeSetup().c_str());
        m_record = m_dir.File(L"record.txt");
        m_started = m_dir.File(L"started.flag");
        m_release = m_dir.File(L"release.flag");
        for (const std::wstring& f : {m_record, m_started, m_release})
            DeleteFileW(f.c_str());
        SetSetupArgs(L"--exit 3010");
    }

    void TearDown() override
    {
        Release();
        // A setup program the run left waiting writes its record once it sees
        // the release; the scratch folder goes only after that, or it would
        // wait out its whole time.
        if (PathFileExistsW(m_started.c_str()))
            for (int i = 0; i < 3000 && !PathFileExistsW(m_record.c_str()); ++i)
                Sleep(10);
        hInstRes = nullptr;
        g_bCancel = 0;
    }

    // The setup program records, says it runs, and waits for the release.
    void SetSetupArgs(const std::wstring& extra)
    {
        std::wstring args = L"--record \"" + m_record + L"\" --touch \"" + m_started +
                            L"\" --wait-file \"" + m_release + L"\" " + extra;
        lstrcpynW(TestRun().project.szExeCmdLine, args.c_str(), PATH_CCH);
    }

public:
    void Release() { uitest::WriteFileBytes(m_release, ""); }

protected:

    HWND Run()
    {
        STATUSDLGPARAM param = {&TestRun(), uitest::LauncherResources(), 2057, StartStatusRun,
                                &m_setup};
        return StatusDlg(nullptr, &param);
    }

    // Matches the status window once the setup program runs.
    static bool WhileSetupRuns(HWND hWnd, void* self)
    {
        auto* t = static_cast<StatusWindowTest*>(self);
        return hWnd == g_hStatusWnd && PathFileExistsW(t->m_started.c_str());
    }

    ScratchDir m_dir;
    std::wstring m_record, m_started, m_release;
    SETUPRUN m_setup{TestRun()};  // the run: what it extracts, what it leaves
};

struct Look {
    bool visible = false;
    LONG_PTR exStyle = 0;
    std::wstring title, heading, subtext, stepText;
    bool hasMainBar = false, hasStepBar = false, mainBarVisible = false;
    bool stepBarVisible = false, cancelVisible = false;
    RECT rc = {};
    int textBottom = 0, cancelTop = 0;  // client pixels
};

int ClientTop(HWND hDlg, int id, bool bottom)
{
    RECT rc = {};
    GetWindowRect(GetDlgItem(hDlg, id), &rc);
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
    return bottom ? rc.bottom : rc.top;
}

struct TemplateCase {
    const char* name;
    BYTE statusType;
    bool hasMainBar;
    LONG_PTR extraExStyle;
};

const TemplateCase kTemplates[] = {
    {"normal", 1, true, 0},
    {"small", 0, false, 0},
};

// While the setup program runs the window says so in words, without bars,
// and the normal one closes up around its texts.

TEST_F(StatusWindowTest, ShowsTheTemplateWithTitleAndTextsWhileTheSetupRuns)
{
    for (const TemplateCase& c : kTemplates) {
        SCOPED_TRACE(c.name);
        SetUp();
        TestRun().project.byStatusType = c.statusType;
        struct Ctx {
            StatusWindowTest* test;
            Look look;
        } ctx = {this, {}};
        HWND hDlg;
        {
            uitest::WindowWatcher watcher(
                [](HWND h, void* c) { return WhileSetupRuns(h, static_cast<Ctx*>(c)->test); },
                [](HWND h, void* c) {
                    auto* x = static_cast<Ctx*>(c);
                    x->look.visible = IsWindowVisible(h) != FALSE;
                    x->look.exStyle = GetWindowLongPtrW(h, GWL_EXSTYLE);
                    x->look.title = WindowText(h);
                    x->look.heading = WindowText(GetDlgItem(h, IDC_HEADING));
                    x->look.subtext = WindowText(GetDlgItem(h, IDC_SUBTEXT));
                    x->look.stepText = WindowText(GetDlgItem(h, IDC_STEP_TEXT));
                    x->look.hasStepBar = GetDlgItem(h, IDC_STEP_BAR) != nullptr;
                    x->look.hasMainBar = GetDlgItem(h, IDC_MAIN_BAR) != nullptr;
                    x->look.mainBarVisible = IsWindowVisible(GetDlgItem(h, IDC_MAIN_BAR)) != FALSE;
                    x->look.stepBarVisible = IsWindowVisible(GetDlgItem(h, IDC_STEP_BAR)) != FALSE;
                    x->look.cancelVisible = IsWindowVisible(GetDlgItem(h, IDCANCEL)) != FALSE;
                    x->look.textBottom = ClientTop(h, GetDlgItem(h, IDC_SUBTEXT) ? IDC_SUBTEXT : IDC_STEP_TEXT, true);
                    x->look.cancelTop = ClientTop(h, IDCANCEL, false);
                    GetWindowRect(h, &x->look.rc);
                    x->test->Release();
                },
                &ctx);
            hDlg = Run();
            EXPECT_TRUE(watcher.Ran());
        }
        EXPECT_NE(nullptr, hDlg);
        EXPECT_FALSE(IsWindow(hDlg));
        EXPECT_EQ(nullptr, g_hStatusWnd);
        EXPECT_EQ(3010u, ExitCode());

        const Look& look = ctx.look;
        EXPECT_TRUE(look.visible);
        EXPECT_EQ(static_cast<LONG_PTR>(WS_EX_APPWINDOW | c.extraExStyle),
                  look.exStyle & (WS_EX_APPWINDOW | WS_EX_TOOLWINDOW | WS_EX_TOPMOST));
        EXPECT_TRUE(look.hasStepBar);
        EXPECT_EQ(c.hasMainBar, look.hasMainBar);
        EXPECT_FALSE(look.mainBarVisible);  // hidden while the setup program runs
        EXPECT_FALSE(look.stepBarVisible);
        EXPECT_TRUE(look.cancelVisible);
        EXPECT_GT(look.rc.right - look.rc.left, 0);
        EXPECT_EQ(L"Running the setup program...", look.stepText);
        if (c.hasMainBar) {
            EXPECT_EQ(L"Demo Product", look.title);
            EXPECT_EQ(L"Running the setup program", look.heading);
            EXPECT_EQ(L"The setup program of Demo Product is running. This window closes when it "
                      L"has finished.",
                      look.subtext);
            // Cancel comes right below the texts: no empty space where the bars were.
            EXPECT_GT(look.cancelTop, look.textBottom);
            EXPECT_LT(look.cancelTop - look.textBottom, 60);
        }

        char begin[128];
        snprintf(begin, sizeof(begin), "StatusDlg > hWnd == 00000000, hInst == %d, uiLangID == 2057",
                 static_cast<int>(reinterpret_cast<INT_PTR>(uitest::LauncherResources())));
        for (const std::string& line :
             {std::string(begin), std::string("StatusProc()->WM_READY_TASK"),
              std::string("ThreadUnCompressDATA()->Extract CAB Ressource!"),
              std::string("StatusProc()->WM_END_TASK"), std::string("StatusProc()->WM_DESTROY")})
            EXPECT_TRUE(tracesink::Contains(line)) << line << "\n" << tracesink::Dump();
        EXPECT_TRUE(tracesink::ContainsPrefix("StatusProc->CreateThread()->hThread=0x"));
        // A visible run keeps every pacing pause.
        for (const std::string& line : tracesink::Lines())
            EXPECT_EQ(std::string::npos, line.find("No pause")) << line;
        char end[64];
        snprintf(end, sizeof(end), "StatusDlg > End(%d)",
                 static_cast<int>(reinterpret_cast<INT_PTR>(hDlg)));
        EXPECT_TRUE(tracesink::Contains(end)) << tracesink::Dump();
    }
}

struct QuietCase {
    const char* name;
    BOOL silent;
    BOOL payload;
};

const QuietCase kQuietCases[] = {
    {"silent", TRUE, TRUE},
    {"no payload", FALSE, FALSE},
};

TEST_F(StatusWindowTest, SilentOrWithoutPayloadTheWindowStaysOutOfSightButTheRunGoesOn)
{
    for (const QuietCase& c : kQuietCases) {
        SCOPED_TRACE(c.name);
        SetUp();
        m_setup.bSilent = c.silent;
        if (!c.payload)
            m_setup.payload.hDataRes = nullptr;
        struct Ctx {
            StatusWindowTest* test;
            Look look;
        } ctx = {this, {}};
        {
            uitest::WindowWatcher watcher(
                [](HWND h, void* c) { return WhileSetupRuns(h, static_cast<Ctx*>(c)->test); },
                [](HWND h, void* c) {
                    auto* x = static_cast<Ctx*>(c);
                    x->look.visible = IsWindowVisible(h) != FALSE;
                    x->look.exStyle = GetWindowLongPtrW(h, GWL_EXSTYLE);
                    GetWindowRect(h, &x->look.rc);
                    x->test->Release();
                },
                &ctx);
            Run();
        }
        EXPECT_EQ(0, ctx.look.exStyle & WS_EX_APPWINDOW);
        if (c.silent) {
            EXPECT_FALSE(ctx.look.visible);
            // Nobody sees the full bars of a silent run: no pause for them.
            EXPECT_TRUE(tracesink::Contains(
                "ThreadUnCompressDATA()->No pause of 1000 ms: the status window is not visible"))
                << tracesink::Dump();
        }
        if (!c.payload) {
            // Shown, but with no size at all.
            EXPECT_EQ(0, ctx.look.rc.right - ctx.look.rc.left);
            EXPECT_EQ(0, ctx.look.rc.bottom - ctx.look.rc.top);
            EXPECT_TRUE(tracesink::Contains("ThreadUnCompressDATA()->No Data to Extract!"));
        }
        EXPECT_EQ(3010u, ExitCode());
        EXPECT_FALSE(RecordValues(m_record, "exe=").empty());
    }
}

// One private message sent while the setup program runs.
struct MessageCase {
    const char* name;
    UINT msg;
    WPARAM wParam;
    LRESULT result;
    DWORD exitCodeAfter;  // the exit code right after the message
    const char* trace;
};

const MessageCase kMessages[] = {
    {"exit", WM_SETUP_EXIT, 0, 1, 1, "StatusProc()->WM_SETUP_EXIT"},
    {"end", WM_SETUP_END, 0, 1, 0, "StatusProc()->WM_SETUP_END"},
    {"exit again", WM_SETUP_EXIT, 0, 1, 1, "StatusProc()->WM_SETUP_EXIT"},
    {"end wins last", WM_SETUP_END, 0, 1, 0, "StatusProc()->WM_SETUP_END"},
    {"begin", WM_SETUP_BEGIN, 0x1234, 1, 0, "StatusProc()->WM_SETUP_BEGIN - wParam=1234 lParam=0"},
    {"hide", WM_SETUP_HIDE, 0, 1, 0, "StatusProc()->WM_SETUP_HIDE - wParam=0 lParam=0"},
    // How another thread of the run hands its exit code to the window's thread.
    {"exit code of another thread", WM_SET_EXIT_CODE, 42, 1, 42,
     "StatusProc()->WM_SET_EXIT_CODE(42)"},
};

TEST_F(StatusWindowTest, PrivateMessagesOfTheSetupProgram)
{
    struct Ctx {
        StatusWindowTest* test;
        LRESULT results[ARRAYSIZE(kMessages)];
        DWORD codes[ARRAYSIZE(kMessages)];
        bool visibleAfterHide;
    } ctx = {this, {}, {}, true};
    {
        uitest::WindowWatcher watcher(
            [](HWND h, void* c) { return WhileSetupRuns(h, static_cast<Ctx*>(c)->test); },
            [](HWND h, void* c) {
                auto* x = static_cast<Ctx*>(c);
                for (size_t i = 0; i < ARRAYSIZE(kMessages); ++i) {
                    x->results[i] = SendMessageW(h, kMessages[i].msg, kMessages[i].wParam, 0);
                    x->codes[i] = ExitCode();
                }
                x->visibleAfterHide = IsWindowVisible(h) != FALSE;
                x->test->Release();
            },
            &ctx);
        Run();
    }
    for (size_t i = 0; i < ARRAYSIZE(kMessages); ++i) {
        SCOPED_TRACE(kMessages[i].name);
        EXPECT_EQ(kMessages[i].result, ctx.results[i]);
        EXPECT_EQ(kMessages[i].exitCodeAfter, ctx.codes[i]);
        EXPECT_TRUE(tracesink::Contains(kMessages[i].trace)) << tracesink::Dump();
    }
    EXPECT_FALSE(ctx.visibleAfterHide);
    // When the setup program ends, its own exit code is the run's: the
    // worker hands it to the window's thread.
    EXPECT_EQ(3010u, ExitCode());
    EXPECT_TRUE(tracesink::Contains("StatusProc()->WM_SET_EXIT_CODE(3010)")) << tracesink::Dump();
}

struct CopyDataCase {
    const char* name;
    ULONG_PTR dwData;
    DWORD cbData;        // 0 = the whole record
    bool quoteFile;
    bool missingFile;
    bool launched;
};

const CopyDataCase kCopyData[] = {
    {"request", 1, 0, false, false, true},
    {"quoted file", 1, 0, true, false, true},
    {"other dwData", 2, 0, false, false, false},
    {"short record", 1, 1000, false, false, false},
    {"missing file", 1, 0, false, true, false},
};

TEST_F(StatusWindowTest, LaunchRequestsThroughCopyData)
{
    struct Outcome {
        std::wstring record;
        LRESULT result;
        DWORD codeAfter;
    };
    struct Ctx {
        StatusWindowTest* test;
        Outcome out[ARRAYSIZE(kCopyData)];
    } ctx = {this, {}};
    for (size_t i = 0; i < ARRAYSIZE(kCopyData); ++i) {
        ctx.out[i].record = m_dir.File((L"request" + std::to_wstring(i) + L".txt").c_str());
        DeleteFileW(ctx.out[i].record.c_str());
    }
    {
        uitest::WindowWatcher watcher(
            [](HWND h, void* c) { return WhileSetupRuns(h, static_cast<Ctx*>(c)->test); },
            [](HWND h, void* c) {
                auto* x = static_cast<Ctx*>(c);
                for (size_t i = 0; i < ARRAYSIZE(kCopyData); ++i) {
                    const CopyDataCase& k = kCopyData[i];
                    SetExitCode(1, EXITCODE_OUTCOME);
                    auto* data = new SETUPLAUNCHDATA();
                    std::wstring file = k.missingFile ? FakeSetup() + L".missing" : FakeSetup();
                    if (k.quoteFile)
                        file = L"\"" + file + L"\"";
                    lstrcpynW(data->szFile, file.c_str(), PATH_CCH);
                    std::wstring args = L"--record \"" + x->out[i].record + L"\" --exit 9";
                    lstrcpynW(data->szCmdLine, args.c_str(), CMDLINE_CCH);
                    data->dwWait = 1;
                    COPYDATASTRUCT cds = {k.dwData,
                                          k.cbData ? k.cbData : static_cast<DWORD>(sizeof(*data)),
                                          data};
                    x->out[i].result =
                        SendMessageW(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
                    x->out[i].codeAfter = ExitCode();
                    delete data;
                }
                x->test->Release();
            },
            &ctx);
        Run();
    }
    std::wstring dir = FakeSetup();
    PathRemoveFileSpecW(&dir[0]);
    for (size_t i = 0; i < ARRAYSIZE(kCopyData); ++i) {
        const CopyDataCase& c = kCopyData[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(1, ctx.out[i].result);
        if (c.launched) {
            EXPECT_EQ(9u, ctx.out[i].codeAfter);
            // The request's empty folder means the folder of the file.
            EXPECT_EQ(std::vector<std::string>{Utf8(dir.c_str())},
                      RecordValues(ctx.out[i].record, "cwd="));
        } else {
            EXPECT_FALSE(PathFileExistsW(ctx.out[i].record.c_str()));
            EXPECT_EQ(1u, ctx.out[i].codeAfter);
        }
    }
    EXPECT_TRUE(tracesink::Contains("StatusProc()->WM_COPYDATA - File=" + Utf8(FakeSetup())));
    // Whatever the request, the sender is brought forward.
    EXPECT_TRUE(tracesink::ContainsPrefix("StatusProc()->WM_SETUP_BEGIN - wParam=0 lParam="));
}

TEST_F(StatusWindowTest, LaunchMessageStartsTheFileNamedByTheTitle)
{
    lstrcpyW(TestRun().szTitle, FakeSetup().c_str());
    struct Ctx {
        StatusWindowTest* test;
        LRESULT result;
    } ctx = {this, 0};
    {
        uitest::WindowWatcher watcher(
            [](HWND h, void* c) { return WhileSetupRuns(h, static_cast<Ctx*>(c)->test); },
            [](HWND h, void* c) {
                auto* x = static_cast<Ctx*>(c);
                x->result = SendMessageW(h, WM_SETUP_LAUNCH, 0, 0);
                x->test->Release();
            },
            &ctx);
        Run();
    }
    EXPECT_EQ(1, ctx.result);
    EXPECT_TRUE(tracesink::Contains("StatusProc()->WM_SETUP_LAUNCH ->File=" + Utf8(FakeSetup())));
    EXPECT_TRUE(tracesink::Contains("ExecuteFile(" + Utf8(FakeSetup()) +
                                    ", , open, 0 (Wait=1), 1 (ShowWindow))->Begin"))
        << tracesink::Dump();
}

// Cancel asks first, No the default: No lets the run go on, Yes ends it and
// the worker finishes on its own. A run whose boxes are suppressed asks
// nobody.
TEST_F(StatusWindowTest, CancelAsksAndEndsTheRunOnlyWhenConfirmed)
{
    const struct {
        const char* name;
        BOOL suppressed;
        int answer;
        bool asked;
        DWORD exitCode;
        const char* line;
    } cases[] = {
        {"yes", FALSE, IDYES, true, ERROR_CANCELLED, "StatusProc()->WM_DESTROY"},
        {"no", FALSE, IDNO, true, 3010, "StatusProc()->Cancel not confirmed: the run goes on"},
        {"boxes suppressed", TRUE, IDNO, false, ERROR_CANCELLED,
         "ConfirmCancel()->no question: message boxes are suppressed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_bSuppressMsgBoxes = c.suppressed;
        struct Ctx {
            StatusWindowTest* test;
            uitest::MessageBoxSeen seen;
        } ctx = {this, {}};
        ctx.seen.answer = c.answer;
        HWND hDlg;
        {
            uitest::WindowWatcher watcher(
                [](HWND h, void* x) { return WhileSetupRuns(h, static_cast<Ctx*>(x)->test); },
                [](HWND h, void*) { PostMessageW(h, WM_COMMAND, IDCANCEL, 0); }, &ctx);
            uitest::WindowWatcher question(
                uitest::IsMessageBox,
                [](HWND h, void* x) {
                    auto* ctx = static_cast<Ctx*>(x);
                    uitest::AnswerMessageBox(h, &ctx->seen);
                    // Answered No, the run goes on to its end.
                    if (ctx->seen.answer == IDNO)
                        ctx->test->Release();
                },
                &ctx);
            hDlg = Run();
        }
        Release();
        g_bSuppressMsgBoxes = FALSE;
        EXPECT_EQ(c.asked, ctx.seen.found);
        if (c.asked) {
            EXPECT_EQ(L"Demo Product", ctx.seen.caption);
            EXPECT_EQ(L"Are you sure you want to cancel the installation of Demo Product?",
                      ctx.seen.text);
        }
        EXPECT_EQ(c.exitCode, ExitCode()) << tracesink::Dump();
        char cancel[96];
        snprintf(cancel, sizeof(cancel), "StatusProc()->IDCANCEL - wParam=%x lParam=2",
                 static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hDlg)));
        for (const char* line : {static_cast<const char*>(cancel), c.line})
            EXPECT_TRUE(tracesink::Contains(line)) << line << "\n" << tracesink::Dump();
        if (c.exitCode == ERROR_CANCELLED) {
            // The setup program was still running when the wait gave up: the
            // run was cancelled, and the worker ended by itself.
            for (const char* line : {"StatusProc()->WM_CLOSE", "StatusProc()->dwExitCode=0"})
                EXPECT_TRUE(tracesink::Contains(line)) << line << "\n" << tracesink::Dump();
        }
    }
}

TEST(StatusDlg, RefusesAMissingParameter)
{
    tracesink::Clear();
    EXPECT_EQ(nullptr, StatusDlg(nullptr, nullptr));
    EXPECT_TRUE(tracesink::Contains("StatusDlg > bad parameters!"));
}

TEST(CenterWindowOnWorkArea, CentresAndKeepsTheWindowInside)
{
    HWND hWnd = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                nullptr, nullptr);
    CenterWindowOnWorkArea(hWnd);
    RECT rc;
    GetWindowRect(hWnd, &rc);
    MONITORINFO mi = {sizeof(mi)};
    GetMonitorInfoW(MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    const RECT& w = mi.rcWork;
    EXPECT_EQ(w.left + (w.right - w.left - 200) / 2, rc.left);
    EXPECT_EQ(w.top + (w.bottom - w.top - 100) / 2, rc.top);
    EXPECT_EQ(200, rc.right - rc.left);

    // Taller than the work area: the top edge stays inside.
    SetWindowPos(hWnd, nullptr, 0, 0, 200, (w.bottom - w.top) + 300, SWP_NOMOVE | SWP_NOZORDER);
    CenterWindowOnWorkArea(hWnd);
    GetWindowRect(hWnd, &rc);
    EXPECT_EQ(w.bottom - (rc.bottom - rc.top), rc.top);
    DestroyWindow(hWnd);
}

}  // namespace
