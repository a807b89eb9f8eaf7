// Starting programs through the shell, with and without waiting.
#include <gtest/gtest.h>
#include "state/state.h"
#include "support/tracesink.h"
#include "common/process.h"
#include "support/uitest_util.h"

using uitest::FakeSetup;
using uitest::RecordValues;
using uitest::ScratchDir;
using uitest::Utf8;

namespace {

class ExecuteFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tracesink::Clear();
        g_bCancel = 0;
    }
    void TearDown() override { g_bCancel = 0; }

    DWORD exitCode_ = 1;  // where a wait leaves the program's code
};

struct WaitCase {
    const char* name;
    const wchar_t* verb;
    const wchar_t* args;  // fakesetup arguments after --record
    DWORD expectedExit;
};

const WaitCase kWaitCases[] = {
    {"open verb", L"open", L"--exit 0", 0},
    {"reboot code", L"open", L"--exit 3010", 3010},
    {"default verb", L"", L"--exit 7", 7},
    {"mixed-case verb", L"Open", L"--exit 42", 42},
    // Without a consent prompt (no UAC here) RunAs starts the program as open does.
    {"runas verb", L"RunAs", L"--exit 3", 3},
};

TEST_F(ExecuteFileTest, WaitsAndTakesTheExitCode)
{
    for (const WaitCase& c : kWaitCases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"launch-wait");
        std::wstring record = dir.File(L"record.txt");
        std::wstring params = L"--record \"" + record + L"\" " + c.args;
        tracesink::Clear();
        HANDLE hProcess = INVALID_HANDLE_VALUE;
        ASSERT_EQ(ExecuteFile(nullptr, FakeSetup().c_str(), params.c_str(), dir.Path().c_str(),
                              c.verb, TRUE, SW_HIDE, &exitCode_, &hProcess), 0u);
        EXPECT_EQ(c.expectedExit, exitCode_);
        ASSERT_NE(nullptr, hProcess);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess, 0));
        CloseHandle(hProcess);

        std::string begin = "ExecuteFile(" + Utf8(FakeSetup()) + ", " + Utf8(params) + ", " +
                            Utf8(c.verb) + ", 1 (Wait=1), 0 (ShowWindow))->Begin";
        EXPECT_TRUE(tracesink::Contains(begin)) << tracesink::Dump();
        EXPECT_TRUE(tracesink::Contains("ExecuteFile()->Directory=" + Utf8(dir.Path())));
        EXPECT_TRUE(tracesink::ContainsPrefix("ExecuteFile()->WaitForSingleObject=0 Time="))
            << tracesink::Dump();
        char end[64];
        snprintf(end, sizeof(end), "ExecuteFile()->End(1 - %#x)", static_cast<unsigned>(c.expectedExit));
        EXPECT_TRUE(tracesink::Contains(end)) << tracesink::Dump();

        // The program ran in the given folder with the given parameters.
        EXPECT_EQ(std::vector<std::string>{Utf8(dir.Path())}, RecordValues(record, "cwd="));
        EXPECT_EQ(Utf8(record), RecordValues(record, "arg=").at(1));
    }
}

TEST_F(ExecuteFileTest, WithoutWaitLeavesTheExitCodeAndHandsOverTheProcess)
{
    ScratchDir dir(L"launch-nowait");
    std::wstring params = L"--exit 5";
    HANDLE hProcess = nullptr;
    exitCode_ = 1234;
    ASSERT_EQ(ExecuteFile(nullptr, FakeSetup().c_str(), params.c_str(), nullptr, L"open", FALSE,
                          SW_HIDE, &exitCode_, &hProcess), 0u);
    EXPECT_EQ(1234u, exitCode_);
    ASSERT_NE(nullptr, hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess, 30000));
    DWORD code = 0;
    GetExitCodeProcess(hProcess, &code);
    EXPECT_EQ(5u, code);
    CloseHandle(hProcess);
    EXPECT_FALSE(tracesink::ContainsPrefix("ExecuteFile()->WaitForSingleObject"));
    EXPECT_TRUE(tracesink::Contains("ExecuteFile()->End(1 - 0x4d2)")) << tracesink::Dump();
}

TEST_F(ExecuteFileTest, MissingFileFailsBeforeTheShell)
{
    ScratchDir dir(L"launch-missing");
    std::wstring missing = dir.File(L"nothere.exe");
    HANDLE hProcess = INVALID_HANDLE_VALUE;
    exitCode_ = 77;
    EXPECT_NE(ExecuteFile(nullptr, missing.c_str(), L"", nullptr, L"open", TRUE, SW_HIDE,
                           &exitCode_, &hProcess), 0u);
    EXPECT_EQ(77u, exitCode_);
    EXPECT_EQ(nullptr, hProcess);
    EXPECT_TRUE(tracesink::Contains("ExecuteFile(" + Utf8(missing) +
                                    ", , open, 1 (Wait=1), 0 (ShowWindow))->Begin"));
    EXPECT_FALSE(tracesink::ContainsPrefix("ExecuteFile()->Directory"));
    EXPECT_FALSE(tracesink::ContainsPrefix("ExecuteFile()->End"));
}

TEST_F(ExecuteFileTest, ShellRefusalReturnsFalse)
{
    // A verb the file type does not have: the shell refuses without a box.
    ScratchDir dir(L"launch-refused");
    std::wstring file = dir.File(L"data.unknownext");
    uitest::WriteFileBytes(file, "x");
    HANDLE hProcess = INVALID_HANDLE_VALUE;
    EXPECT_NE(ExecuteFile(nullptr, file.c_str(), L"", nullptr, L"noSuchVerb", TRUE, SW_HIDE,
                           &exitCode_, &hProcess), 0u);
    EXPECT_EQ(nullptr, hProcess);
    EXPECT_EQ(1u, exitCode_);
    EXPECT_TRUE(tracesink::Contains("ExecuteFile()->End(0 - 0x1)")) << tracesink::Dump();
}

// Cancels once the wait has found the program still running.
DWORD WINAPI CancelWhileWaiting(LPVOID)
{
    for (int i = 0; i < 3000 && !tracesink::Contains("ExecuteFile()->WaitForSingleObject=0X102"); ++i)
        Sleep(10);
    InterlockedExchange(&g_bCancel, 1);
    return 0;
}

TEST_F(ExecuteFileTest, CancelEndsTheWaitWhileTheProgramRuns)
{
    HANDLE hProcess = nullptr;
    HANDLE hCanceller = CreateThread(nullptr, 0, CancelWhileWaiting, nullptr, 0, nullptr);
    ASSERT_EQ(ExecuteFile(nullptr, FakeSetup().c_str(), L"--sleep 60000", nullptr, L"open",
                          TRUE, SW_HIDE, &exitCode_, &hProcess), 0u);
    WaitForSingleObject(hCanceller, INFINITE);
    CloseHandle(hCanceller);
    // The program still runs: it has no exit code yet, and STILL_ACTIVE is
    // never taken for one.
    EXPECT_EQ(1u, exitCode_);
    ASSERT_NE(nullptr, hProcess);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hProcess, 0));
    TerminateProcess(hProcess, 0);
    CloseHandle(hProcess);
    EXPECT_TRUE(tracesink::ContainsPrefix("ExecuteFile()->WaitForSingleObject=0X102 Time="))
        << tracesink::Dump();
}

}  // namespace
