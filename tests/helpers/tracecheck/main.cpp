// Runs one trace scenario and prints what its own windows received. It is
// started on a desktop where no other monitor window can be found:
//   tracecheck <scenario>   ->  "monitor: <line>" / "list: <line>" per line
// Scenarios: nowindow, late, classonly, closed, hung (a monitor and a list
// window in a second process that stops answering; that process prints what
// reached it once it answers again), logonly FILE (no window, a log file).
//   tracecheck hungwindows <ready-file> <release-file>   those windows alone
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "common/trace.h"
#include "common/tracelog.h"

namespace {

std::vector<std::string> g_received;

LRESULT CALLBACK MonitorProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
        const char* p = static_cast<const char*>(cds->lpData);
        g_received.push_back("monitor: " + std::string(p, strnlen(p, cds->cbData)) +
                             " (" + std::to_string(cds->cbData) + ")");
        return TRUE;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

void RegisterWindowClasses()
{
    WNDCLASSW wc = {};
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpfnWndProc = MonitorProc;
    wc.lpszClassName = L"TMonitor";
    RegisterClassW(&wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"Dbs";
    RegisterClassW(&wc);
}

HWND CreateMonitor(LPCWSTR szTitle)
{
    return CreateWindowExW(0, L"TMonitor", szTitle, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

HWND CreateList()
{
    HWND hDbs = CreateWindowExW(0, L"Dbs", L"list", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD, 0, 0, 10, 10, hDbs,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(120)), GetModuleHandleW(nullptr),
                    nullptr);
    return hDbs;
}

void CollectList(HWND hDbs)
{
    HWND hList = GetDlgItem(hDbs, 120);
    LRESULT count = SendMessageA(hList, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char szText[2048] = "";
        if (SendMessageA(hList, LB_GETTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof(szText)))
            SendMessageA(hList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(szText));
        g_received.push_back(std::string("list: ") + szText);
    }
}

bool FileExists(LPCWSTR szPath)
{
    return GetFileAttributesW(szPath) != INVALID_FILE_ATTRIBUTES;
}

// The windows of the hung scenario, in a process of their own (also started
// by the end-to-end tests): created, then "<ready-file>" is written and they
// stop answering until "<release-file>" exists (or 60 s have passed); then
// they take what is waiting and the process prints what reached them.
int RunHungWindows(LPCWSTR szReadyFile, LPCWSTR szReleaseFile)
{
    HWND hMonitor = CreateMonitor(L"TMonitor");
    HWND hDbs = CreateList();
    if (!hMonitor || !hDbs)
        return 4;
    HANDLE hReady = CreateFileW(szReadyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hReady == INVALID_HANDLE_VALUE)
        return 4;
    CloseHandle(hReady);
    DWORD dwStart = GetTickCount();
    while (!FileExists(szReleaseFile) && GetTickCount() - dwStart < 60000)
        Sleep(50);
    const bool bReleased = FileExists(szReleaseFile);
    dwStart = GetTickCount();
    MSG msg;
    while (GetTickCount() - dwStart < 1000) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    CollectList(hDbs);
    printf("hung windows woken by: %s\n", bReleased ? "release" : "time-out");
    size_t nbList = 0;
    size_t nbMonitor = 0;
    for (const std::string& line : g_received)
        (line.compare(0, 5, "list:") == 0 ? nbList : nbMonitor) += 1;
    printf("hung monitor lines: %u\n", static_cast<unsigned>(nbMonitor));
    printf("hung list lines: %u\n", static_cast<unsigned>(nbList));
    fflush(stdout);
    return 0;
}

// Traces while another process's monitor and list windows do not answer.
int TraceToHungWindows()
{
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    WCHAR szReady[MAX_PATH + 64];
    WCHAR szRelease[MAX_PATH + 64];
    wsprintfW(szReady, L"%stracecheck-%lu.ready", szTemp, GetCurrentProcessId());
    wsprintfW(szRelease, L"%stracecheck-%lu.release", szTemp, GetCurrentProcessId());
    DeleteFileW(szReady);
    DeleteFileW(szRelease);
    WCHAR szExe[MAX_PATH];
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring cmd = std::wstring(L"\"") + szExe + L"\" hungwindows \"" + szReady + L"\" \"" +
                       szRelease + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    // The windows process shares this desktop (null: the one we run on).
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(szExe, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return 5;
    DWORD dwWaited = 0;
    while (!FileExists(szReady) && WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT &&
           dwWaited < 30000)
        dwWaited += 50;
    if (!FileExists(szReady))
        return 6;
    DWORD dwStart = GetTickCount();
    for (int i = 0; i < 5; ++i) {
        DebugTrace(L"wide %d", i);
        DebugTraceA("narrow %d", i);
    }
    DWORD dwElapsed = GetTickCount() - dwStart;
    HANDLE hRelease = CreateFileW(szRelease, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hRelease != INVALID_HANDLE_VALUE)
        CloseHandle(hRelease);
    WaitForSingleObject(pi.hProcess, 90000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteFileW(szReady);
    DeleteFileW(szRelease);
    // For the test's output only, never compared.
    printf("info: the traces took %lu ms\n", dwElapsed);
    return 0;
}

// A pointer that crashes the formatter if the message is ever formatted.
const wchar_t* const BAD_WIDE = reinterpret_cast<const wchar_t*>(1);
const char* const BAD_NARROW = reinterpret_cast<const char*>(1);

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring scenario = argv[1];
    if (scenario == L"hungwindows" && argc >= 4) {
        RegisterWindowClasses();
        return RunHungWindows(argv[2], argv[3]);
    }

    // Any monitor already here would take the lines meant for ours.
    if (FindWindowW(L"TMonitor", nullptr) || FindWindowW(nullptr, L"TMonitor") ||
        FindWindowW(L"Dbs", nullptr)) {
        printf("error: a monitor window is already on this desktop\n");
        return 3;
    }

    RegisterWindowClasses();

    HWND hDbs = nullptr;
    if (scenario == L"hung") {
        int iResult = TraceToHungWindows();
        if (iResult != 0)
            return iResult;
    } else if (scenario == L"nowindow") {
        // Nothing to send to: the arguments are never formatted.
        for (int i = 0; i < 3; ++i) {
            DebugTrace(L"never formatted %s", BAD_WIDE);
            DebugTraceA("never formatted %s", BAD_NARROW);
        }
    } else if (scenario == L"late") {
        DebugTrace(L"no window yet %s", BAD_WIDE);
        CreateMonitor(L"TMonitor");
        hDbs = CreateList();
        DebugTrace(L"wide after %s", BAD_WIDE);
        // The 8-bit entry point looks up on its own first call.
        DebugTraceA("narrow after %d", 7);
    } else if (scenario == L"classonly") {
        CreateMonitor(L"Another title");
        DebugTrace(L"wide %d", 1);
        DebugTraceA("narrow %d", 2);
    } else if (scenario == L"closed") {
        HWND hMonitor = CreateMonitor(L"TMonitor");
        DebugTrace(L"while open");
        // The replacement exists before the first one goes, so it can not
        // reuse its handle.
        CreateMonitor(L"TMonitor");
        DestroyWindow(hMonitor);
        DebugTrace(L"after close");
    } else if (scenario == L"logonly" && argc >= 3) {
        // No window, but a log: the lines are formatted for the file.
        if (OpenTraceLog(argv[2]) != ERROR_SUCCESS)
            return 4;
        DebugTrace(L"wide %d", 1);
        DebugTraceA("narrow %d", 2);
        CloseTraceLog();
        DebugTrace(L"after close %s", BAD_WIDE);
    } else {
        return 2;
    }

    if (hDbs)
        CollectList(hDbs);
    for (const std::string& line : g_received)
        printf("%s\n", line.c_str());
    printf("done\n");
    fflush(stdout);
    return 0;
}
