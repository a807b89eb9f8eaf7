// Small fixtures shared by the user-interface tests: a scratch folder made
// by the test, the helper programs beside the test program, and text files.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "support/strings.h"

namespace uitest {

// Folder of the running test program (the helpers are built beside it).
std::wstring BinDir();
std::wstring FakeSetup();

// A fresh, empty folder below %TEMP%, removed by the destructor.
class ScratchDir {
public:
    explicit ScratchDir(const wchar_t* name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// Lines of a fakesetup record that start with the prefix ("arg=", "cwd="...),
// without the prefix.
std::vector<std::string> RecordValues(const std::wstring& recordPath, const std::string& prefix);
using support::Utf8;
using support::Wide;

}  // namespace uitest

namespace uitest {

// The program's own resources (dialogs and English strings), loaded from
// launcher.exe beside the test program as a data file.
HINSTANCE LauncherResources();

// Runs fn(window) on a thread of its own once the top-level window of this
// process that matches the predicate exists; the caller keeps pumping.
class WindowWatcher {
public:
    typedef bool (*Match)(HWND hWnd, void* ctx);
    typedef void (*Action)(HWND hWnd, void* ctx);
    WindowWatcher(Match match, Action action, void* ctx);
    ~WindowWatcher();  // joins the thread
    bool Ran() const { return m_ran; }

private:
    static DWORD WINAPI Thread(LPVOID self);
    Match m_match;
    Action m_action;
    void* m_ctx;
    HANDLE m_hThread;
    volatile bool m_ran;
    volatile bool m_stop;
};

// Finds a visible top-level window of this process by class and title.
HWND FindOwnWindow(const wchar_t* className, const wchar_t* title);
std::wstring WindowText(HWND hWnd);

// A message box as a WindowWatcher meets it: IsMessageBox matches a visible
// one, AnswerMessageBox (ctx: a MessageBoxSeen) reads its caption and text
// and presses the button asked for.
struct MessageBoxSeen {
    int answer = IDOK;
    bool found = false;
    std::wstring caption, text;
};
bool IsMessageBox(HWND hWnd, void* ctx);
void AnswerMessageBox(HWND hWnd, void* ctx);

}  // namespace uitest
