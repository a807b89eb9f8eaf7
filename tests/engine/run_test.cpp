// The setup run: its run without a status window, the message pump and
// the error texts.
#include <gtest/gtest.h>
#include <shlwapi.h>
#include <cwctype>
#include <functional>
#include <string>
#include "state/projectinfo.h"
#include "common/errors.h"
#include "launcher/runflow.h"
#include "state/state.h"
#include "support/tracesink.h"
#include "common/process.h"
#include "support/steplook.h"
#include "ui/progress.h"
#include "ui/statusview.h"
#include "engine/run.h"
#include "support/uitest_util.h"
#include "support/testrun.h"

namespace {

const UINT kProbe = WM_APP + 7;
int g_probeCount;

LRESULT CALLBACK ProbeProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == kProbe) {
        ++g_probeCount;
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

HWND CreateProbeWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WorkerTestProbe";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

TEST(PumpMessagesFor, DispatchesOneMessageOfTheWindowPerPass)
{
    HWND hWnd = CreateProbeWindow();
    HWND hOther = CreateProbeWindow();
    ASSERT_NE(nullptr, hWnd);
    g_probeCount = 0;
    PostMessageW(hWnd, kProbe, 0, 0);
    PostMessageW(hWnd, kProbe, 0, 0);
    PostMessageW(hOther, kProbe, 0, 0);

    PumpMessagesFor(hWnd, 0);
    EXPECT_EQ(1, g_probeCount);
    PumpMessagesFor(hWnd, 200);
    EXPECT_EQ(2, g_probeCount);

    // The other window's message is still queued.
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, hOther, kProbe, kProbe, PM_REMOVE));
    DestroyWindow(hOther);
    DestroyWindow(hWnd);
}

struct ErrorCase {
    DWORD code;
};

const ErrorCase kErrorCases[] = {{ERROR_FILE_NOT_FOUND}, {ERROR_INVALID_DATA},
                                 {ERROR_WRITE_FAULT}, {ERROR_BAD_FORMAT}, {0xDEADu}};

TEST(SystemErrorText, WritesTheSystemsWords)
{
    for (const ErrorCase& c : kErrorCases) {
        SCOPED_TRACE(c.code);
        LPWSTR szSystem = nullptr;
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, c.code, LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&szSystem), 0,
                       nullptr);
        std::wstring expected = szSystem ? szSystem : L"";
        if (szSystem)
            LocalFree(szSystem);
        // The system ends its texts with a line end; the box shows none.
        while (!expected.empty() && iswspace(expected.back()))
            expected.pop_back();

        WCHAR szText[256];
        SystemErrorText(c.code, szText, ARRAYSIZE(szText));
        EXPECT_EQ(expected, szText);
        EXPECT_TRUE(expected.empty() || !iswspace(expected.back()));
    }
}

TEST(TrimTrailingBlanks, CutsBlanksAndLineEndsAtTheEndOnly)
{
    const struct {
        const wchar_t* text;
        const wchar_t* trimmed;
    } cases[] = {
        {L"File not found.\r\n", L"File not found."},
        {L"two lines\r\nsecond \t \n\n", L"two lines\r\nsecond"},
        {L"  inner  blanks stay", L"  inner  blanks stay"},
        {L" \r\n\t", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        WCHAR szText[64];
        lstrcpyW(szText, c.text);
        TrimTrailingBlanks(szText);
        EXPECT_STREQ(c.trimmed, szText);
    }
    TrimTrailingBlanks(nullptr);
}

TEST(SystemErrorText, CutsToTheBuffer)
{
    WCHAR szWhole[256];
    SystemErrorText(ERROR_FILE_NOT_FOUND, szWhole, ARRAYSIZE(szWhole));
    ASSERT_GT(wcslen(szWhole), 7u);
    WCHAR szText[8];
    SystemErrorText(ERROR_FILE_NOT_FOUND, szText, ARRAYSIZE(szText));
    EXPECT_EQ(7u, wcslen(szText));
    EXPECT_EQ(0, wcsncmp(szText, szWhole, 7));
}

}  // namespace

// ---- the worker's run, without a status window ----------------------------

namespace {

using uitest::FakeSetup;
using uitest::RecordValues;
using uitest::Utf8;

const wchar_t kProduct[] = L"Worker Test Product";
const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class WorkerRunTest : public ::testing::Test {
public:
    WorkerRunTest() : m_dir(L"worker") {}

    void SetUp() override
    {
        tracesink::Clear();
        g_bCancel = 0;
        StartExitCode();
        TestRun().bFileList = FALSE;
        m_setup = SETUPRUN(TestRun());
        m_setup.bSilent = TRUE;
        hInstRes = uitest::LauncherResources();
        ZeroMemory(&TestRun().project, sizeof(TestRun().project));
        TestRun().project.bLaunchExe = 1;
        TestRun().project.uiExeWinDisplay = SW_SHOWNORMAL;
        TestRun().project.uiLanguageDefault = 2057;
        lstrcpyW(TestRun().project.szProductName, kProduct);
        lstrcpyW(TestRun().szProductNameShort, kProduct);
        lstrcpyW(TestRun().szTitle, kProduct);
        lstrcpyW(TestRun().szExeFile, FakeSetup().c_str());
        m_record = m_dir.File(L"record.txt");
        DeleteFileW(m_record.c_str());
        std::wstring args = L"--record \"" + m_record + L"\" --exit 4";
        lstrcpynW(TestRun().project.szExeCmdLine, args.c_str(), PATH_CCH);
    }

    void TearDown() override
    {
        g_bCancel = 0;
        g_bSuppressMsgBoxes = FALSE;
        hInstRes = nullptr;
        HKEY hKey;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnce, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueW(hKey, kProduct);
            RegCloseKey(hKey);
        }
    }

    void RunWorker()
    {
        StatusView view(nullptr, TestRun());
        EXPECT_EQ(0u, RunSetup(view, m_setup));
    }

    void ExitWith(int code)
    {
        std::wstring args = L"--record \"" + m_record + L"\" --exit " + std::to_wstring(code);
        lstrcpynW(TestRun().project.szExeCmdLine, args.c_str(), PATH_CCH);
    }

    std::string BeginLine(const wchar_t* verb, int wait)
    {
        return "ExecuteFile(" + Utf8(FakeSetup()) + ", " + Utf8(TestRun().project.szExeCmdLine) +
               ", " + Utf8(verb) + ", " + std::to_string(wait) +
               " (Wait=1), 1 (ShowWindow))->Begin";
    }

    uitest::ScratchDir m_dir;
    SETUPRUN m_setup{TestRun()};  // what the run extracts: nothing unless a case says
    std::wstring m_record;
};

struct LaunchCase {
    const char* name;
    DWORD launchOptions;
    DWORD dialogInRun;
    DWORD delFiles;
    const wchar_t* verb;
    int wait;
};

const LaunchCase kLaunches[] = {
    {"open, no wait asked", 0, 0, 0, L"open", 0},
    {"runas, delete files", 1, 0, 1, L"RunAs", 1},
    {"options 2 as 1, dialog in run", 2, 1, 0, L"RunAs", 1},
};

TEST_F(WorkerRunTest, LaunchesWithTheVerbAndAlwaysTakesTheExitCode)
{
    for (const LaunchCase& c : kLaunches) {
        SCOPED_TRACE(c.name);
        SetUp();
        TestRun().project.uiLaunchOptions = c.launchOptions;
        TestRun().project.bDialogInRun = c.dialogInRun;
        TestRun().project.bDelFiles = c.delFiles;
        RunWorker();
        EXPECT_TRUE(tracesink::Contains(BeginLine(c.verb, c.wait))) << tracesink::Dump();
        // The worker waits for the program even when ExecuteFile did not.
        EXPECT_EQ(4u, ExitCode());
        EXPECT_TRUE(tracesink::ContainsPrefix("ExecuteFile()->WaitForSingleObject=0 Time="));
        std::wstring dir = FakeSetup();
        PathRemoveFileSpecW(&dir[0]);
        EXPECT_EQ(std::vector<std::string>{Utf8(dir.c_str())}, RecordValues(m_record, "cwd="));
    }
}

TEST_F(WorkerRunTest, CmdLineOptionFollowsTheConfiguredCommandLineExpanded)
{
    lstrcpyW(m_setup.szCmdLineParam, L"--alpha <PRODUCTNAME>");
    RunWorker();
    std::vector<std::string> args = RecordValues(m_record, "arg=");
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ("--alpha", args[args.size() - 4]);
    EXPECT_EQ("Worker", args[args.size() - 3]);  // the product name, split at its blanks
    EXPECT_EQ("Product", args.back());
}

// When the preparation is over the bars are full; the step text says what
// comes next rather than going blank.
TEST_F(WorkerRunTest, FullBarsAtTheEndOfPreparationSayReadyToInstall)
{
    const struct {
        const char* name;
        DWORD dialogInRun;
        const wchar_t* last;
    } cases[] = {
        {"window hidden for the launch", 0, L"Ready to install..."},
        {"window kept for the launch", 1, L"Running the setup program..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        TestRun().project.bLaunchExe = 0;
        TestRun().project.bDialogInRun = c.dialogInRun;
        steplook::Recorder recorder(true);
        RunWorker();
        EXPECT_TRUE(recorder.FullWithoutText().empty());
        ASSERT_FALSE(recorder.Looks().empty());
        EXPECT_EQ(100u, recorder.Looks().back().pos);
        EXPECT_EQ(L"Ready to install...", recorder.Looks().back().text);
        EXPECT_EQ(c.last, uitest::WindowText(g_Progress.m_hStepText));
    }
}

TEST_F(WorkerRunTest, CancelledBeforeTheLaunchLaunchesNothing)
{
    g_bCancel = 1;
    RunWorker();
    EXPECT_FALSE(tracesink::ContainsPrefix("ExecuteFile("));
    EXPECT_FALSE(PathFileExistsW(m_record.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), ExitCode());
}

// The box says what happened and what to do, under the product's name, and
// gives the code for support.
TEST_F(WorkerRunTest, ListedFilesWithoutPayloadReportFileNotFound)
{
    TestRun().bFileList = TRUE;
    uitest::MessageBoxSeen seen;
    {
        uitest::WindowWatcher watcher(uitest::IsMessageBox, uitest::AnswerMessageBox, &seen);
        RunWorker();
    }
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(kProduct, seen.caption);
    EXPECT_EQ(L"The setup files of Worker Test Product are damaged or incomplete.\n"
              L"Download the package again, then run the new copy.\n\nError code: 2",
              seen.text);
    EXPECT_TRUE(tracesink::Contains("ThreadUnCompressDATA()->No Data to Extract!"));
    EXPECT_TRUE(tracesink::Contains("ThreadUnCompressDATA()->Error=2"));
    EXPECT_FALSE(PathFileExistsW(m_record.c_str()));
}

TEST_F(WorkerRunTest, RestartRegistersTheSetupProgramInsteadOfLaunchingIt)
{
    for (BOOL silent : {TRUE, FALSE}) {
        SCOPED_TRACE(silent ? "silent" : "asked");
        SetUp();
        m_setup.bSilent = silent;
        TestRun().project.bNeedReboot = 1;
        uitest::MessageBoxSeen seen;
        seen.answer = IDNO;
        {
            uitest::WindowWatcher watcher(uitest::IsMessageBox, uitest::AnswerMessageBox, &seen);
            RunWorker();
        }
        EXPECT_FALSE(PathFileExistsW(m_record.c_str()));
        WCHAR szValue[1024] = L"";
        DWORD cb = sizeof(szValue);
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, kRunOnce, kProduct, RRF_RT_REG_SZ,
                                               nullptr, szValue, &cb));
        std::wstring quoted = FakeSetup();
        if (quoted.find(L' ') != std::wstring::npos)
            quoted = L"\"" + quoted + L"\"";
        EXPECT_EQ(quoted + L" " + TestRun().project.szExeCmdLine, szValue);
        EXPECT_EQ(!silent, seen.found);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), ExitCode());
        if (!silent) {
            EXPECT_EQ(L"Restarting Windows", seen.caption);
            EXPECT_EQ(L"Before you can use the program, you must restart your "
                      L"computer.\nSelect Yes to restart now, or No to restart later.",
                      seen.text);
        }
    }
}

// What each outcome leaves as the run's exit code, with every box
// suppressed: none may appear.
TEST_F(WorkerRunTest, TheExitCodeTellsWhatHappened)
{
    const struct {
        const char* name;
        std::function<void(WorkerRunTest&)> prepare;
        DWORD exitCode;
        const char* line;  // a trace line the outcome leaves, or nullptr
    } cases[] = {
        {"the program's own code", [](WorkerRunTest&) {}, 4, nullptr},
        {"3010 passes through", [](WorkerRunTest& t) { t.ExitWith(3010); }, 3010, nullptr},
        {"1641 passes through", [](WorkerRunTest& t) { t.ExitWith(1641); }, 1641, nullptr},
        {"0 from the program", [](WorkerRunTest& t) { t.ExitWith(0); }, 0, nullptr},
        {"nothing to launch: completed", [](WorkerRunTest&) { TestRun().project.bLaunchExe = 0; },
         0, nullptr},
        {"a restart instead of a launch", [](WorkerRunTest&) { TestRun().project.bNeedReboot = 1; },
         3010, nullptr},
        // A command line cut short would run the program with other
        // arguments: nothing starts, nothing is registered.
        {"-CMDLINE: too long for the setup program's command line",
         [](WorkerRunTest& t) {
             std::wstring param(CMDLINE_CCH - 10, L'x');
             lstrcpynW(t.m_setup.szCmdLineParam, param.c_str(), CMDLINE_CCH);
         },
         ERROR_FILENAME_EXCED_RANGE,
         "ThreadUnCompressDATA()->The setup program's command line is longer than 7999 characters: "
         "nothing started"},
        {"a command too long to run after the restart",
         [](WorkerRunTest& t) {
             TestRun().project.bNeedReboot = 1;
             std::wstring param(1000, L'x');
             lstrcpynW(t.m_setup.szCmdLineParam, param.c_str(), CMDLINE_CCH);
         },
         ERROR_FILENAME_EXCED_RANGE,
         "ThreadUnCompressDATA()->The command for after the restart is longer than 1023 "
         "characters: "
         "not registered"},
        {"the restart question takes No",
         [](WorkerRunTest& t) {
             TestRun().project.bNeedReboot = 1;
             t.m_setup.bSilent = FALSE;
         },
         3010,
         "MessageBox(Restarting Windows, Before you can use the program, you must restart "
         "your computer.\\nSelect Yes to restart now, or No to restart later.)->7 (suppressed)"},
        {"a code set during the run stays",
         [](WorkerRunTest&) {
             TestRun().project.bLaunchExe = 0;
             SetExitCode(42);
         },
         42, nullptr},
        {"cancelled", [](WorkerRunTest&) { g_bCancel = 1; }, ERROR_CANCELLED, nullptr},
        {"listed files without payload", [](WorkerRunTest&) { TestRun().bFileList = TRUE; },
         ERROR_FILE_NOT_FOUND, "ThreadUnCompressDATA()->Error=2"},
        {"the program cannot be started",
         [](WorkerRunTest& t) {
             lstrcpyW(TestRun().szExeFile, t.m_dir.File(L"missing.exe").c_str());
         },
         ERROR_FILE_NOT_FOUND, "ThreadUnCompressDATA()->Launch failed (2)"},
        // The box's text goes to the trace in its place, on one line.
        {"the payload is lost", [](WorkerRunTest& t) { t.m_setup.payload.bLost = TRUE; },
         ERROR_INVALID_DATA,
         "MessageBox(Worker Test Product, The setup files of Worker Test Product are damaged or "
         "incomplete.\\nDownload the package again, then run the new copy.\\n\\nError code: 13)->1 "
         "(suppressed)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_bSuppressMsgBoxes = TRUE;
        c.prepare(*this);
        uitest::MessageBoxSeen seen;
        {
            uitest::WindowWatcher watcher(uitest::IsMessageBox, uitest::AnswerMessageBox, &seen);
            RunWorker();
        }
        TearDown();
        EXPECT_FALSE(seen.found) << uitest::Utf8(seen.text);
        EXPECT_EQ(c.exitCode, ExitCode()) << tracesink::Dump();
        EXPECT_TRUE(tracesink::Contains("ThreadUnCompressDATA()->ExitCode=" +
                                        std::to_string(c.exitCode)));
        if (c.line) {
            EXPECT_TRUE(tracesink::Contains(c.line)) << tracesink::Dump();
        }
    }
}

}  // namespace
