#include "support/tracesink.h"
#include <windows.h>
#include <mutex>

namespace tracesink {
namespace {

std::mutex g_lock;
std::vector<std::string> g_raw;
HANDLE g_hThread;
HANDLE g_hReady;
DWORD g_threadId;
HWND g_hMonitor;
HWND g_hDbs;
HWND g_hList;
const int kListId = 120;

LRESULT CALLBACK MonitorProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
        std::string line;
        if (cds && cds->lpData && cds->cbData > 0) {
            const char* p = static_cast<const char*>(cds->lpData);
            line.assign(p, strnlen(p, cds->cbData));
        }
        std::lock_guard<std::mutex> guard(g_lock);
        g_raw.push_back(line);
        return TRUE;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

DWORD WINAPI SinkThread(void*)
{
    HINSTANCE hInst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = MonitorProc;
    wc.hInstance = hInst;
    wc.lpszClassName = L"TMonitor";
    RegisterClassW(&wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"Dbs";
    RegisterClassW(&wc);

    g_hMonitor = CreateWindowExW(0, L"TMonitor", L"TMonitor", WS_OVERLAPPED, 0, 0, 10, 10,
                                 nullptr, nullptr, hInst, nullptr);
    g_hDbs = CreateWindowExW(0, L"Dbs", L"Trace list", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                             nullptr, hInst, nullptr);
    g_hList = CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD, 0, 0, 10, 10, g_hDbs,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), hInst,
                              nullptr);
    SetEvent(g_hReady);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(g_hDbs);
    DestroyWindow(g_hMonitor);
    return 0;
}

std::string ToUtf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

void Start()
{
    if (g_hThread)
        return;
    g_hReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_hThread = CreateThread(nullptr, 0, SinkThread, nullptr, 0, &g_threadId);
    WaitForSingleObject(g_hReady, 10000);
}

void Stop()
{
    if (!g_hThread)
        return;
    PostThreadMessageW(g_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(g_hThread, 5000);
    CloseHandle(g_hThread);
    g_hThread = nullptr;
}

void Clear()
{
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_raw.clear();
    }
    if (g_hList)
        SendMessageW(g_hList, LB_RESETCONTENT, 0, 0);
}

std::vector<std::string> RawLines()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_raw;
}

std::vector<std::string> Lines()
{
    std::vector<std::string> out;
    for (const std::string& raw : RawLines()) {
        // "[module] message"
        size_t close = raw.find("] ");
        out.push_back(raw.size() > 0 && raw[0] == '[' && close != std::string::npos
                          ? raw.substr(close + 2)
                          : raw);
    }
    return out;
}

bool ListContains(const std::string& message)
{
    for (const std::string& line : ListLines()) {
        size_t close = line.find("] ");
        if (close != std::string::npos && line.compare(close + 2, std::string::npos, message) == 0)
            return true;
    }
    return false;
}

std::vector<std::string> ListLines()
{
    std::vector<std::string> out;
    if (!g_hList)
        return out;
    LRESULT count = SendMessageW(g_hList, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT len = SendMessageW(g_hList, LB_GETTEXTLEN, i, 0);
        if (len < 0)
            continue;
        std::wstring text(static_cast<size_t>(len) + 1, L'\0');
        SendMessageW(g_hList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(len));
        out.push_back(ToUtf8(text));
    }
    return out;
}

bool Contains(const std::string& message)
{
    for (const std::string& line : Lines())
        if (line == message)
            return true;
    return false;
}

bool ContainsPrefix(const std::string& prefix)
{
    for (const std::string& line : Lines())
        if (line.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

std::string Dump()
{
    std::string out;
    for (const std::string& line : Lines()) {
        out += line;
        out += '\n';
    }
    return out;
}

}  // namespace tracesink
