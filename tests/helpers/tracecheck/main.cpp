// Runs one trace scenario and prints what its own windows received. It is
// started on a desktop where no other monitor window can be found:
//   tracecheck <scenario>   ->  "monitor: <line>" / "list: <line>" per line
// Scenarios: nowindow, late, classonly, closed.
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "common/trace.h"

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

// A pointer that crashes the formatter if the message is ever formatted.
const wchar_t* const BAD_WIDE = reinterpret_cast<const wchar_t*>(1);
const char* const BAD_NARROW = reinterpret_cast<const char*>(1);

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring scenario = argv[1];

    // Any monitor already here would take the lines meant for ours.
    if (FindWindowW(L"TMonitor", nullptr) || FindWindowW(nullptr, L"TMonitor") ||
        FindWindowW(L"Dbs", nullptr)) {
        printf("error: a monitor window is already on this desktop\n");
        return 3;
    }

    WNDCLASSW wc = {};
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpfnWndProc = MonitorProc;
    wc.lpszClassName = L"TMonitor";
    RegisterClassW(&wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"Dbs";
    RegisterClassW(&wc);

    HWND hDbs = nullptr;
    if (scenario == L"nowindow") {
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
