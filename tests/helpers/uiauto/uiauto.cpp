// Small UI-automation tool for the end-to-end tests: find a top-level
// window, read its controls, click a button, close it.
//
//   uiauto list                          visible top-level windows
//   uiauto wait  SELECTOR [--timeout MS] wait until the window exists and is visible
//   uiauto gone  SELECTOR [--timeout MS] wait until no such window exists
//   uiauto dump  SELECTOR                the window and every child control
//   uiauto click SELECTOR (--id N | --text T)
//   uiauto close SELECTOR                WM_CLOSE
//   uiauto exec CMDLINE [--cwd DIR] [--temp DIR] [--timeout MS] [--watch]
//                                        start a program with exactly this command
//                                        line, wait, print "exit=<code>" (all 32 bits);
//                                        --temp: TEMP and TMP set to DIR;
//                                        --timeout: "timeout" and the process tree is
//                                        ended when it runs longer; --watch: every
//                                        visible top-level window of the process or of
//                                        a process it started, once: "shown pid=...
//                                        class=... text=..."
// SELECTOR: --title T (exact) | --title-prefix T | --class C, optionally --pid N.
// Output is UTF-8; exit code 0 on success, 1 not found, 2 control disabled, 3 usage.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include "support/strings.h"
#include <vector>

namespace {

using support::Utf8;

struct Selector {
    std::wstring title, titlePrefix, className;
    DWORD pid = 0;
    bool visibleOnly = true;
};

// Escapes line feeds so that one control stays on one output line.
std::string Line(const std::wstring& text)
{
    std::string s = Utf8(text), out;
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::wstring TextOf(HWND h)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len))
        return L"";
    std::wstring text(len + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(&text[0]),
                        SMTO_ABORTIFHUNG, 2000, &got);
    text.resize(wcsnlen(text.c_str(), len));
    return text;
}

std::wstring ClassOf(HWND h)
{
    WCHAR sz[256] = L"";
    GetClassNameW(h, sz, 256);
    return sz;
}

bool Matches(HWND h, const Selector& sel)
{
    if (sel.visibleOnly && !IsWindowVisible(h))
        return false;
    if (sel.pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid != sel.pid)
            return false;
    }
    if (!sel.className.empty() && ClassOf(h) != sel.className)
        return false;
    std::wstring title = TextOf(h);
    if (!sel.title.empty() && title != sel.title)
        return false;
    if (!sel.titlePrefix.empty() && title.compare(0, sel.titlePrefix.size(), sel.titlePrefix) != 0)
        return false;
    return true;
}

BOOL CALLBACK Collect(HWND h, LPARAM p)
{
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> TopLevel()
{
    std::vector<HWND> out;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&out));
    return out;
}

HWND Find(const Selector& sel)
{
    for (HWND h : TopLevel())
        if (Matches(h, sel))
            return h;
    return nullptr;
}

HWND WaitFor(const Selector& sel, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND h = Find(sel))
            return h;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

void Describe(HWND h, const char* kind)
{
    RECT rc = {};
    GetWindowRect(h, &rc);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    printf("%s hwnd=%lu id=%d class=%s visible=%d enabled=%d checked=%d rect=%ld,%ld,%ld,%ld pid=%lu text=%s\n",
           kind, static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h)),
           static_cast<int>(static_cast<short>(GetDlgCtrlID(h))), Utf8(ClassOf(h)).c_str(),
           IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0,
           ClassOf(h) == L"Button" ? static_cast<int>(SendMessageW(h, BM_GETCHECK, 0, 0)) : 0,
           rc.left, rc.top, rc.right, rc.bottom, static_cast<unsigned long>(pid),
           Line(TextOf(h)).c_str());
}

std::vector<HWND> Children(HWND hParent)
{
    std::vector<HWND> out;
    EnumChildWindows(hParent, Collect, reinterpret_cast<LPARAM>(&out));
    return out;
}

// The process and every process started below it, as far as they still run.
std::vector<DWORD> ProcessTree(DWORD root)
{
    std::vector<DWORD> tree{root};
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE)
        return tree;
    std::vector<PROCESSENTRY32W> all;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(hSnap, &pe); more; more = Process32NextW(hSnap, &pe))
        all.push_back(pe);
    CloseHandle(hSnap);
    for (size_t i = 0; i < tree.size(); ++i) {
        for (const PROCESSENTRY32W& p : all) {
            if (p.th32ParentProcessID == tree[i] && p.th32ProcessID != root)
                tree.push_back(p.th32ProcessID);
        }
    }
    return tree;
}

bool InTree(const std::vector<DWORD>& tree, DWORD pid)
{
    for (DWORD p : tree)
        if (p == pid)
            return true;
    return false;
}

// Starts cmdLine and waits for it, watching its windows when asked.
int Exec(std::wstring cmdLine, const std::wstring& cwd, DWORD timeoutMs, bool watch)
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmdLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
        fprintf(stderr, "uiauto: cannot start (%lu)\n", GetLastError());
        return 1;
    }
    std::vector<HWND> seen;
    DWORD start = GetTickCount();
    for (;;) {
        bool ended = WaitForSingleObject(pi.hProcess, watch ? 20 : 200) == WAIT_OBJECT_0;
        if (watch) {
            std::vector<DWORD> tree = ProcessTree(pi.dwProcessId);
            for (HWND h : TopLevel()) {
                DWORD pid = 0;
                GetWindowThreadProcessId(h, &pid);
                bool known = false;
                for (HWND k : seen)
                    known = known || k == h;
                if (!known && IsWindowVisible(h) && InTree(tree, pid)) {
                    seen.push_back(h);
                    printf("shown pid=%lu class=%s text=%s\n", static_cast<unsigned long>(pid),
                           Utf8(ClassOf(h)).c_str(), Line(TextOf(h)).c_str());
                    fflush(stdout);
                }
            }
        }
        if (ended)
            break;
        if (timeoutMs && GetTickCount() - start >= timeoutMs) {
            printf("timeout\n");
            for (DWORD pid : ProcessTree(pi.dwProcessId)) {
                HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
                if (h) {
                    TerminateProcess(h, 1);
                    CloseHandle(h);
                }
            }
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    printf("exit=%lu ms=%lu\n", static_cast<unsigned long>(code),
           static_cast<unsigned long>(GetTickCount() - start));
    return 0;
}

int Usage()
{
    fprintf(stderr, "usage: uiauto list|wait|gone|dump|click|close [selector] [options]\n");
    return 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    std::wstring cmd = argv[1];
    Selector sel;
    DWORD timeoutMs = 20000;
    int id = 0;
    bool haveId = false;
    std::wstring text;
    if (cmd == L"exec" && argc >= 3) {
        std::wstring cwd;
        DWORD execTimeout = 0;
        bool watch = false;
        for (int i = 3; i < argc; ++i) {
            std::wstring opt = argv[i];
            if (opt == L"--cwd" && i + 1 < argc) {
                cwd = argv[++i];
            } else if (opt == L"--temp" && i + 1 < argc) {
                SetEnvironmentVariableW(L"TEMP", argv[i + 1]);
                SetEnvironmentVariableW(L"TMP", argv[++i]);
            } else if (opt == L"--timeout" && i + 1 < argc) {
                execTimeout = wcstoul(argv[++i], nullptr, 10);
            } else if (opt == L"--watch") {
                watch = true;
            } else {
                return Usage();
            }
        }
        return Exec(argv[2], cwd, execTimeout, watch);
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        std::wstring opt = argv[i], val = argv[i + 1];
        if (opt == L"--title")
            sel.title = val;
        else if (opt == L"--title-prefix")
            sel.titlePrefix = val;
        else if (opt == L"--class")
            sel.className = val;
        else if (opt == L"--pid")
            sel.pid = wcstoul(val.c_str(), nullptr, 10);
        else if (opt == L"--timeout")
            timeoutMs = wcstoul(val.c_str(), nullptr, 10);
        else if (opt == L"--id") {
            id = static_cast<int>(wcstol(val.c_str(), nullptr, 10));
            haveId = true;
        } else if (opt == L"--text")
            text = val;
        else
            return Usage();
    }

    if (cmd == L"list") {
        for (HWND h : TopLevel())
            if (IsWindowVisible(h))
                Describe(h, "window");
        return 0;
    }
    if (cmd == L"gone") {
        sel.visibleOnly = false;
        DWORD start = GetTickCount();
        while (Find(sel)) {
            if (GetTickCount() - start >= timeoutMs)
                return 1;
            Sleep(50);
        }
        return 0;
    }
    HWND hWnd = WaitFor(sel, cmd == L"wait" ? timeoutMs : (timeoutMs < 5000 ? timeoutMs : 5000));
    if (!hWnd) {
        fprintf(stderr, "uiauto: window not found\n");
        return 1;
    }
    if (cmd == L"wait") {
        Describe(hWnd, "window");
        return 0;
    }
    if (cmd == L"dump") {
        Describe(hWnd, "window");
        for (HWND c : Children(hWnd))
            Describe(c, "control");
        return 0;
    }
    if (cmd == L"close") {
        PostMessageW(hWnd, WM_CLOSE, 0, 0);
        return 0;
    }
    if (cmd == L"click") {
        HWND hButton = nullptr;
        for (HWND c : Children(hWnd)) {
            if ((haveId && static_cast<short>(GetDlgCtrlID(c)) == id) ||
                (!haveId && !text.empty() && TextOf(c) == text)) {
                hButton = c;
                break;
            }
        }
        if (!hButton) {
            fprintf(stderr, "uiauto: control not found\n");
            return 1;
        }
        if (!IsWindowEnabled(hButton)) {
            fprintf(stderr, "uiauto: control disabled\n");
            return 2;
        }
        // Posted: the click may open a modal box in the target, which must not block us.
        PostMessageW(hButton, BM_CLICK, 0, 0);
        return 0;
    }
    return Usage();
}
