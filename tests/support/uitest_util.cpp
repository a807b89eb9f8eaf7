#include "support/uitest_util.h"
#include "support/scratchfiles.h"
#include <shlwapi.h>

namespace uitest {

std::wstring BinDir()
{
    WCHAR sz[MAX_PATH];
    GetModuleFileNameW(nullptr, sz, MAX_PATH);
    PathRemoveFileSpecW(sz);
    return sz;
}

std::wstring FakeSetup()
{
    return BinDir() + L"\\fakesetup.exe";
}

ScratchDir::ScratchDir(const wchar_t* name)
{
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    m_path = std::wstring(szTemp) + L"stowaway-uitest-" + name;
    support::RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

ScratchDir::~ScratchDir()
{
    support::RemoveTree(m_path);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

std::vector<std::string> RecordValues(const std::wstring& recordPath, const std::string& prefix)
{
    std::vector<std::string> out;
    std::string text = ReadFileBytes(recordPath);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line.substr(prefix.size()));
        start = end + 1;
    }
    return out;
}

}  // namespace uitest

namespace uitest {

HINSTANCE LauncherResources()
{
    static HINSTANCE hRes = LoadLibraryExW((BinDir() + L"\\launcher.exe").c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE);
    return hRes;
}

WindowWatcher::WindowWatcher(Match match, Action action, void* ctx)
    : m_match(match), m_action(action), m_ctx(ctx), m_ran(false), m_stop(false)
{
    m_hThread = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
}

WindowWatcher::~WindowWatcher()
{
    m_stop = true;
    WaitForSingleObject(m_hThread, 60000);
    CloseHandle(m_hThread);
}

namespace {

struct FindCtx {
    WindowWatcher::Match match;
    void* ctx;
    HWND found;
};

BOOL CALLBACK FindProc(HWND hWnd, LPARAM lParam)
{
    auto* f = reinterpret_cast<FindCtx*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid == GetCurrentProcessId() && f->match(hWnd, f->ctx)) {
        f->found = hWnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

DWORD WINAPI WindowWatcher::Thread(LPVOID self)
{
    auto* w = static_cast<WindowWatcher*>(self);
    while (!w->m_stop) {
        FindCtx f = {w->m_match, w->m_ctx, nullptr};
        EnumWindows(FindProc, reinterpret_cast<LPARAM>(&f));
        if (f.found) {
            w->m_action(f.found, w->m_ctx);
            w->m_ran = true;
            return 0;
        }
        Sleep(20);
    }
    return 0;
}

std::wstring WindowText(HWND hWnd)
{
    WCHAR sz[1024] = L"";
    SendMessageTimeoutW(hWnd, WM_GETTEXT, ARRAYSIZE(sz), reinterpret_cast<LPARAM>(sz),
                        SMTO_NORMAL, 5000, nullptr);
    return sz;
}

HWND FindOwnWindow(const wchar_t* className, const wchar_t* title)
{
    struct Want {
        const wchar_t* cls;
        const wchar_t* title;
    } want = {className, title};
    FindCtx f = {[](HWND h, void* c) -> bool {
                     auto* w = static_cast<Want*>(c);
                     WCHAR cls[64] = L"";
                     GetClassNameW(h, cls, 64);
                     return IsWindowVisible(h) && (!w->cls || !lstrcmpW(cls, w->cls)) &&
                            (!w->title || WindowText(h) == w->title);
                 },
                 &want, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

namespace {

// The static control that holds a message box's text.
const int MESSAGE_BOX_TEXT_ID = 0xFFFF;

}  // namespace

bool IsMessageBox(HWND hWnd, void*)
{
    WCHAR cls[16] = L"";
    GetClassNameW(hWnd, cls, 16);
    return IsWindowVisible(hWnd) && !lstrcmpW(cls, L"#32770") &&
           GetDlgItem(hWnd, MESSAGE_BOX_TEXT_ID) != nullptr;
}

void AnswerMessageBox(HWND hWnd, void* ctx)
{
    auto* seen = static_cast<MessageBoxSeen*>(ctx);
    seen->found = true;
    seen->caption = WindowText(hWnd);
    seen->text = WindowText(GetDlgItem(hWnd, MESSAGE_BOX_TEXT_ID));
    PostMessageW(hWnd, WM_COMMAND, seen->answer, 0);
}

}  // namespace uitest
