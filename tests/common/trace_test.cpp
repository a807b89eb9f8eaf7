#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>
#include "common/trace.h"
#include "common/tracelog.h"
#include "support/strings.h"
#include "support/tracesink.h"

namespace {

const std::string kModule = "[test_common.exe] ";

std::string TimeOfDay()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    char szTime[100] = "";
    GetTimeFormatA(0x400, LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT, &st, nullptr, szTime, 100);
    return szTime;
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { tracesink::Clear(); }
};

struct FormatCase {
    const char* name;
    std::function<void()> call;
    std::string message;
};

TEST_F(TraceTest, BothEntryPointsSendTheFormattedLine)
{
    const std::string long2000(2000, 'x');
    const std::wstring wlong2000(2000, L'y');
    const FormatCase cases[] = {
        {"wide %s takes a wide string", [] { DebugTrace(L"Open(%s)->%d", L"C:\\a b.txt", 5); },
         "Open(C:\\a b.txt)->5"},
        {"wide %u %x %#x", [] { DebugTrace(L"%u %x %#x", 4000000000u, 255u, 255u); },
         "4000000000 ff 0xff"},
        {"narrow %s takes an 8-bit string", [] { DebugTraceA("Open(%s)->%d", "C:\\a b.txt", -3); },
         "Open(C:\\a b.txt)->-3"},
        {"narrow %u %x %#x", [] { DebugTraceA("%u %x %#x", 4000000000u, 255u, 255u); },
         "4000000000 ff 0xff"},
        {"wide message cut to 1024", [&] { DebugTrace(L"%s", wlong2000.c_str()); },
         std::string(1024, 'y')},
        {"narrow message cut to 1024", [&] { DebugTraceA("%s", long2000.c_str()); },
         std::string(1024, 'x')},
        {"wide empty message", [] { DebugTrace(L""); }, ""},
        {"narrow empty message", [] { DebugTraceA(""); }, ""},
    };
    for (const FormatCase& c : cases) {
        tracesink::Clear();
        c.call();
        std::vector<std::string> raw = tracesink::RawLines();
        ASSERT_EQ(raw.size(), 1u) << c.name;
        EXPECT_EQ(raw[0], kModule + c.message) << c.name;
    }
}

TEST_F(TraceTest, ListWindowLineHasTimeModuleAndMessage)
{
    const struct {
        const char* name;
        std::function<void()> call;
        std::string message;
    } cases[] = {
        {"wide", [] { DebugTrace(L"list %s %d", L"wide", 1); }, "list wide 1"},
        {"narrow", [] { DebugTraceA("list %s %d", "narrow", 2); }, "list narrow 2"},
    };
    for (const auto& c : cases) {
        tracesink::Clear();
        std::string before = TimeOfDay();
        c.call();
        std::string after = TimeOfDay();
        std::vector<std::string> list = tracesink::ListLines();
        ASSERT_EQ(list.size(), 1u) << c.name;
        const std::string tail = "> " + kModule + c.message;
        EXPECT_TRUE(list[0] == before + tail || list[0] == after + tail) << c.name << ": " << list[0];
        EXPECT_FALSE(before.empty());
    }
}

TEST_F(TraceTest, CallerLastErrorIsKept)
{
    SetLastError(1234);
    DebugTrace(L"a %d", 1);
    EXPECT_EQ(GetLastError(), 1234u);
    SetLastError(4321);
    DebugTraceA("b %d", 2);
    EXPECT_EQ(GetLastError(), 4321u);
}

DWORD WINAPI TraceFromWorker(void*)
{
    DebugTrace(L"from worker %d", 9);
    return 0;
}

TEST_F(TraceTest, OtherThreadsTraceToTheSameWindows)
{
    HANDLE hThread = CreateThread(nullptr, 0, TraceFromWorker, nullptr, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    EXPECT_TRUE(tracesink::Contains("from worker 9")) << tracesink::Dump();
}

// Runs the trace helper program on the given desktop and returns its exit
// code and output.
struct HelperRun {
    DWORD dwExitCode = 0xFFFFFFFF;
    std::vector<std::string> lines;
};

HelperRun RunTraceHelper(const std::wstring& szScenario, const std::wstring& desktop)
{
    HelperRun run;
    WCHAR szExe[MAX_PATH];
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    WCHAR* pName = wcsrchr(szExe, L'\\');
    lstrcpyW(pName ? pName + 1 : szExe, L"tracecheck.exe");
    std::wstring cmd = std::wstring(L"\"") + szExe + L"\" " + szScenario;
    std::wstring desktopName = desktop;

    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE hRead = nullptr;
    HANDLE hWrite = nullptr;
    if (!CreatePipe(&hRead, &hWrite, &sa, 0))
        return run;
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);
    // The process that serves the desktop is started by the first window on
    // it and takes the error handle of that window's process: it must not
    // hold the pipe read here to its end.
    HANDLE hNul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.lpDesktop = &desktopName[0];
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = hWrite;
    si.hStdError = hNul;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    BOOL bStarted = CreateProcessW(szExe, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &si, &pi);
    CloseHandle(hWrite);
    if (hNul != INVALID_HANDLE_VALUE)
        CloseHandle(hNul);
    if (!bStarted) {
        CloseHandle(hRead);
        return run;
    }
    std::string output;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hRead, buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        output.append(buffer, cbRead);
    CloseHandle(hRead);
    WaitForSingleObject(pi.hProcess, 30000);
    GetExitCodeProcess(pi.hProcess, &run.dwExitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        run.lines.push_back(line);
        start = end + 1;
    }
    return run;
}

std::string Join(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

// What the helper prints for a monitor line: the text and the byte count
// sent, which includes the terminating zero.
std::string Monitor(const std::string& line)
{
    return "monitor: " + line + " (" + std::to_string(line.size() + 1) + ")";
}

// Each scenario runs in a process of its own, on a desktop where no other
// monitor window can be found: the window lookup happens once per process and
// entry point.
TEST(TraceLookup, WindowsAreLookedUpOncePerProcessAndEntryPoint)
{
    const struct {
        const wchar_t* scenario;
        const char* what;
        std::vector<std::string> expected;  // the list line is checked apart
    } cases[] = {
        {L"nowindow", "no window: arguments are never formatted", {"done"}},
        {L"late", "a monitor started after the first call is not noticed by that entry point",
         {Monitor("[tracecheck.exe] narrow after 7"), "list: *", "done"}},
        {L"classonly", "a class-only TMonitor serves the wide entry point only",
         {Monitor("[tracecheck.exe] wide 1"), "done"}},
        {L"closed", "a handle once found stays in use after its window is gone",
         {Monitor("[tracecheck.exe] while open"), "done"}},
    };
    // One desktop for every run: each run's windows go with its process.
    WCHAR szDesktop[64];
    wsprintfW(szDesktop, L"tracecheck-%lu", GetCurrentProcessId());
    HDESK hDesk = CreateDesktopW(szDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(hDesk, nullptr) << GetLastError();
    for (const auto& c : cases) {
        HelperRun run = RunTraceHelper(c.scenario, szDesktop);
        EXPECT_EQ(run.dwExitCode, 0u) << c.what << "\n" << Join(run.lines);
        ASSERT_EQ(run.lines.size(), c.expected.size()) << c.what << "\n" << Join(run.lines);
        for (size_t i = 0; i < c.expected.size(); ++i) {
            if (c.expected[i] == "list: *") {
                const std::string tail = "> [tracecheck.exe] narrow after 7";
                const std::string& line = run.lines[i];
                EXPECT_EQ(line.compare(0, 6, "list: "), 0) << line;
                ASSERT_GE(line.size(), tail.size());
                EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
                EXPECT_GT(line.size(), 6 + tail.size()) << "time of day missing: " << line;
            } else {
                EXPECT_EQ(run.lines[i], c.expected[i]) << c.what;
            }
        }
    }
    CloseDesktop(hDesk);
}

// A monitor and a list window that stop answering hold a trace call up once,
// for a moment, and are then dropped: later lines neither wait nor reach
// them. The windows answer again only when the traces are done.
TEST(TraceLookup, HungWindowsAreDropped)
{
    WCHAR szDesktop[64];
    wsprintfW(szDesktop, L"tracecheck-hung-%lu", GetCurrentProcessId());
    HDESK hDesk = CreateDesktopW(szDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(hDesk, nullptr) << GetLastError();
    HelperRun run = RunTraceHelper(L"hung", szDesktop);
    CloseDesktop(hDesk);
    EXPECT_EQ(run.dwExitCode, 0u) << Join(run.lines);
    std::vector<std::string> lines;
    for (const std::string& line : run.lines) {
        if (line.compare(0, 6, "info: ") == 0)
            printf("%s\n", line.c_str());
        else
            lines.push_back(line);
    }
    // The line that timed out may still arrive once the window answers.
    ASSERT_EQ(lines.size(), 4u) << Join(run.lines);
    EXPECT_EQ(lines[0], "hung windows woken by: release");
    EXPECT_TRUE(lines[1] == "hung monitor lines: 0" || lines[1] == "hung monitor lines: 1") << lines[1];
    EXPECT_TRUE(lines[2] == "hung list lines: 0" || lines[2] == "hung list lines: 1") << lines[2];
    EXPECT_EQ(lines[3], "done");
}

// ---- the log file -------------------------------------------------------

std::wstring TempLog(const wchar_t* name)
{
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    WCHAR szName[96];
    wsprintfW(szName, L"stowaway-log-%lu-%s", GetCurrentProcessId(), name);
    return std::wstring(szTemp) + szName;
}

std::string ReadAll(const std::wstring& path)
{
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buffer[4096];
    DWORD cb = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &cb, nullptr) && cb)
        out.append(buffer, cb);
    CloseHandle(h);
    return out;
}

const std::string kBom = "\xEF\xBB\xBF";

// The log's lines without their time stamps; a line without a well-formed
// stamp, or one without its CR LF, shows as "<bad> ...".
std::vector<std::string> LogLines(const std::string& text)
{
    // Date, time and the writing process's id before each line.
    static const std::regex stamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (\d+) (.*)$)");
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::smatch m;
        if (end != std::string::npos && std::regex_match(line, m, stamp))
            out.push_back(m[2]);
        else
            out.push_back("<bad> " + line);
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return out;
}

DWORD WINAPI TraceFromWorkerForLog(void*)
{
    for (int i = 0; i < 50; ++i)
        DebugTrace(L"worker line %d", i);
    return 0;
}

TEST(TraceLog, TheLogHoldsTheMonitorsLinesStampedInUtf8)
{
    std::wstring path = TempLog(L"lines.log");
    DeleteFileW(path.c_str());
    ASSERT_EQ(OpenTraceLog(path.c_str()), 0u);
    EXPECT_TRUE(IsTraceLogOpen());
    tracesink::Clear();
    DebugTrace(L"wide %s %d", L"one", 1);
    DebugTraceA("narrow %s %d", "two", 2);
    HANDLE hThread = CreateThread(nullptr, 0, TraceFromWorkerForLog, nullptr, 0, nullptr);
    for (int i = 0; i < 50; ++i)
        DebugTrace(L"main line %d", i);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    // Written as it goes: readable before the log is closed.
    std::string text = ReadAll(path);
    DebugTrace(L"accent \u00e9");
    DebugTrace(L"two\r\nlines");
    CloseTraceLog();
    EXPECT_FALSE(IsTraceLogOpen());
    DebugTrace(L"not in the log");

    ASSERT_EQ(text.compare(0, kBom.size(), kBom), 0);
    std::vector<std::string> monitor = tracesink::RawLines();
    ASSERT_EQ(monitor.size(), 105u);
    // The monitor's lines, each once: two threads may pass each other
    // between the monitor and the file, so the order is compared apart.
    std::vector<std::string> expected(monitor.begin(), monitor.begin() + 102);
    std::vector<std::string> logged = LogLines(text.substr(kBom.size()));
    ASSERT_EQ(logged.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(logged.begin(), logged.begin() + 2),
              std::vector<std::string>(expected.begin(), expected.begin() + 2));
    std::sort(logged.begin(), logged.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(logged, expected);
    // The accent in UTF-8 (the monitor gets the ANSI code page); a line
    // break inside a message stays on its line.
    text = ReadAll(path);
    logged = LogLines(text.substr(kBom.size()));
    ASSERT_EQ(logged.size(), 104u);
    EXPECT_EQ(logged[102], kModule + "accent \xC3\xA9");
    EXPECT_EQ(logged[103], kModule + "two\\r\\nlines");
    // Each line names the process that wrote it.
    EXPECT_NE(text.find(" " + std::to_string(GetCurrentProcessId()) + " " + kModule),
              std::string::npos);

    // Opened again, it grows: no second byte order mark.
    ASSERT_EQ(OpenTraceLog(path.c_str()), 0u);
    DebugTraceA("second run");
    CloseTraceLog();
    text = ReadAll(path);
    logged = LogLines(text.substr(kBom.size()));
    ASSERT_EQ(logged.size(), 105u);
    EXPECT_EQ(logged.back(), kModule + "second run");
    DeleteFileW(path.c_str());
}

TEST(TraceLog, ALogThatCannotBeOpenedLeavesTheTraceAsItWas)
{
    std::wstring folder = TempLog(L"folder");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring paths[] = {folder, folder + L"\\missing\\sub\\a.log", L"",
                                  folder + L"\\bad|name.log"};
    for (const std::wstring& path : paths) {
        tracesink::Clear();
        EXPECT_NE(OpenTraceLog(path.c_str()), 0u) << support::Utf8(path);
        EXPECT_FALSE(IsTraceLogOpen());
        DebugTrace(L"still traced %d", 3);
        EXPECT_EQ(tracesink::RawLines(), std::vector<std::string>{kModule + "still traced 3"});
    }
    RemoveDirectoryW(folder.c_str());
}

TEST(TraceLog, WithoutAnyWindowTheLogStillGetsEveryLine)
{
    std::wstring path = TempLog(L"logonly.log");
    DeleteFileW(path.c_str());
    // On a desktop of its own: no monitor there.
    WCHAR szDesktop[64];
    wsprintfW(szDesktop, L"tracecheck-log-%lu", GetCurrentProcessId());
    HDESK hDesk = CreateDesktopW(szDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(hDesk, nullptr);
    HelperRun run = RunTraceHelper(L"logonly \"" + path + L"\"", szDesktop);
    CloseDesktop(hDesk);
    EXPECT_EQ(run.dwExitCode, 0u) << Join(run.lines);
    EXPECT_EQ(run.lines, std::vector<std::string>{"done"});
    std::string text = ReadAll(path);
    ASSERT_EQ(text.compare(0, kBom.size(), kBom), 0);
    EXPECT_EQ(LogLines(text.substr(kBom.size())),
              (std::vector<std::string>{"[tracecheck.exe] wide 1", "[tracecheck.exe] narrow 2"}));
    DeleteFileW(path.c_str());
}

}  // namespace
