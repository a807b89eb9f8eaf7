// caserun.exe: runs a list of programs for the fuzzer, a few at a time,
// each in its own current folder and with its own TEMP, answers the message
// boxes they show, ends (with everything they started) those that pass a
// time limit, and writes what became of each.
//
//   caserun [--jobs N] [--timeout MS] LIST RESULTS
//
// LIST: one case per line, UTF-8, fields separated by tabs:
//   id  current-folder  temp-folder  command-line
// RESULTS: one line per case, in the order they end:
//   id  exit=CODE|hang  ms=N  boxes=N  [box text | box text ...]
// Exit code: 0 when the list was run, 2 when it could not be read.
#include <windows.h>
#include <stdio.h>
#include <string>
#include "support/strings.h"
#include <vector>

namespace {

using support::Utf8;
using support::Wide;

struct Case {
    std::wstring id, cwd, temp, cmdLine;
    HANDLE hProcess = nullptr;
    HANDLE hJob = nullptr;
    DWORD dwPid = 0;
    DWORD dwStart = 0;
    int nBoxes = 0;
    std::wstring boxes;
    bool bDone = false;
};

bool ReadList(LPCWSTR szPath, std::vector<Case>& cases)
{
    FILE* f = _wfopen(szPath, L"rb");
    if (!f)
        return false;
    std::string all;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        all.append(buf, n);
    fclose(f);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find('\n', pos);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 3; ++i) {
            size_t tab = line.find('\t', start);
            if (tab == std::string::npos)
                break;
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        if (fields.size() != 3)
            continue;
        Case c;
        c.id = Wide(fields[0]);
        c.cwd = Wide(fields[1]);
        c.temp = Wide(fields[2]);
        c.cmdLine = Wide(line.substr(start));
        cases.push_back(c);
    }
    return true;
}

// The caller's environment with TEMP and TMP pointing at szTemp.
std::vector<WCHAR> EnvironmentWithTemp(const std::wstring& temp)
{
    std::vector<WCHAR> env;
    LPWCH pBlock = GetEnvironmentStringsW();
    for (LPCWSTR p = pBlock; p && *p; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"TEMP=", 5) == 0 || _wcsnicmp(p, L"TMP=", 4) == 0)
            continue;
        env.insert(env.end(), p, p + wcslen(p) + 1);
    }
    if (pBlock)
        FreeEnvironmentStringsW(pBlock);
    for (const wchar_t* name : {L"TEMP=", L"TMP="}) {
        std::wstring entry = name + temp;
        env.insert(env.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    env.push_back(L'\0');
    return env;
}

bool Start(Case& c)
{
    std::vector<WCHAR> env = EnvironmentWithTemp(c.temp);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring cmdLine = c.cmdLine;
    if (!CreateProcessW(nullptr, &cmdLine[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, env.data(), c.cwd.c_str(),
                        &si, &pi))
        return false;
    // Whatever the case starts ends with it when it has to be stopped.
    c.hJob = CreateJobObjectW(nullptr, nullptr);
    if (c.hJob) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(c.hJob, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
        AssignProcessToJobObject(c.hJob, pi.hProcess);
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    c.hProcess = pi.hProcess;
    c.dwPid = pi.dwProcessId;
    c.dwStart = GetTickCount();
    return true;
}

// A dialog of the case's process that is not its status window (which
// holds the step bar, control 1500) is a box to answer.
struct BoxSearch {
    Case* pCase;
};

std::wstring TextOf(HWND hWnd)
{
    WCHAR sz[1024] = L"";
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hWnd, WM_GETTEXT, ARRAYSIZE(sz), reinterpret_cast<LPARAM>(sz),
                        SMTO_ABORTIFHUNG, 1000, &result);
    return sz;
}

BOOL CALLBACK LongestStatic(HWND hChild, LPARAM lParam)
{
    WCHAR szClass[32];
    GetClassNameW(hChild, szClass, ARRAYSIZE(szClass));
    if (_wcsicmp(szClass, L"Static") == 0) {
        std::wstring text = TextOf(hChild);
        std::wstring* pBest = reinterpret_cast<std::wstring*>(lParam);
        if (text.size() > pBest->size())
            *pBest = text;
    }
    return TRUE;
}

BOOL CALLBACK AnswerBox(HWND hWnd, LPARAM lParam)
{
    Case* pCase = reinterpret_cast<BoxSearch*>(lParam)->pCase;
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid != pCase->dwPid || !IsWindowVisible(hWnd))
        return TRUE;
    WCHAR szClass[32];
    GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
    if (wcscmp(szClass, L"#32770") != 0 || GetDlgItem(hWnd, 1500))
        return TRUE;
    // No, then Cancel, then OK: never the answer that restarts anything.
    for (int id : {IDNO, IDCANCEL, IDOK}) {
        if (GetDlgItem(hWnd, id)) {
            std::wstring text;
            EnumChildWindows(hWnd, LongestStatic, reinterpret_cast<LPARAM>(&text));
            for (wchar_t& ch : text) {
                if (ch == L'\t' || ch == L'\n' || ch == L'\r')
                    ch = L' ';
            }
            pCase->boxes += (pCase->nBoxes ? L" | " : L"") + text;
            ++pCase->nBoxes;
            PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(hWnd, id)));
            break;
        }
    }
    return TRUE;
}

void Report(FILE* out, Case& c, const char* szWhat, DWORD dwCode)
{
    DWORD dwMs = GetTickCount() - c.dwStart;
    if (szWhat)
        fprintf(out, "%s\t%s\tms=%lu\tboxes=%d\t%s\n", Utf8(c.id).c_str(), szWhat,
                static_cast<unsigned long>(dwMs), c.nBoxes, Utf8(c.boxes).c_str());
    else
        fprintf(out, "%s\texit=%lu\tms=%lu\tboxes=%d\t%s\n", Utf8(c.id).c_str(),
                static_cast<unsigned long>(dwCode), static_cast<unsigned long>(dwMs), c.nBoxes,
                Utf8(c.boxes).c_str());
    fflush(out);
}

void Finish(Case& c)
{
    if (c.hJob) {
        // Anything the case left running goes with it.
        TerminateJobObject(c.hJob, ERROR_CANCELLED);
        CloseHandle(c.hJob);
        c.hJob = nullptr;
    }
    if (c.hProcess) {
        CloseHandle(c.hProcess);
        c.hProcess = nullptr;
    }
    c.bDone = true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    DWORD dwJobs = 4;
    DWORD dwTimeout = 60000;
    std::vector<std::wstring> files;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--jobs" && i + 1 < argc)
            dwJobs = wcstoul(argv[++i], nullptr, 10);
        else if (arg == L"--timeout" && i + 1 < argc)
            dwTimeout = wcstoul(argv[++i], nullptr, 10);
        else
            files.push_back(arg);
    }
    std::vector<Case> cases;
    if (files.size() != 2 || !ReadList(files[0].c_str(), cases) || dwJobs == 0) {
        fprintf(stderr, "usage: caserun [--jobs N] [--timeout MS] LIST RESULTS\n");
        return 2;
    }
    FILE* out = _wfopen(files[1].c_str(), L"wb");
    if (!out)
        return 2;

    size_t next = 0;
    std::vector<Case*> running;
    while (next < cases.size() || !running.empty()) {
        while (running.size() < dwJobs && next < cases.size()) {
            Case& c = cases[next++];
            c.dwStart = GetTickCount();
            if (!Start(c)) {
                Report(out, c, "nostart", 0);
                Finish(c);
                continue;
            }
            running.push_back(&c);
        }
        Sleep(50);
        for (size_t i = 0; i < running.size();) {
            Case& c = *running[i];
            BoxSearch search = {&c};
            EnumWindows(AnswerBox, reinterpret_cast<LPARAM>(&search));
            if (WaitForSingleObject(c.hProcess, 0) == WAIT_OBJECT_0) {
                DWORD dwCode = 0;
                GetExitCodeProcess(c.hProcess, &dwCode);
                Report(out, c, nullptr, dwCode);
                Finish(c);
            } else if (GetTickCount() - c.dwStart > dwTimeout) {
                TerminateProcess(c.hProcess, ERROR_TIMEOUT);
                Report(out, c, "hang", 0);
                Finish(c);
            } else {
                ++i;
                continue;
            }
            running.erase(running.begin() + static_cast<long>(i));
        }
    }
    fclose(out);
    return 0;
}
