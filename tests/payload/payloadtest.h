// Shared pieces of the payload tests: a scratch folder per test, small file
// helpers, and a progress object put back to its starting state.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <strsafe.h>
#include <algorithm>
#include <string>
#include <vector>
#include "state/projectinfo.h"
#include "state/state.h"
#include "support/scratchfiles.h"
#include "support/tracesink.h"
#include "ui/progress.h"
#include "support/testrun.h"

namespace payloadtest {

inline std::string Narrow(const std::wstring& text)
{
    int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], cb, nullptr, nullptr);
    return out;
}

inline std::wstring Widen(const std::string& text)
{
    int cch = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(cch > 0 ? cch - 1 : 0, L'\0');
    if (cch > 1)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], cch);
    return out;
}

// A scratch tree, removed without walking through a link in it.
inline void WipeTree(const std::wstring& path)
{
    support::RemoveTree(path);
}

inline bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    CreateDirectoryW(folder.c_str(), nullptr);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path);
    DWORD cb = 0;
    if (!bytes.empty())
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cb, nullptr);
    CloseHandle(h);
}

inline std::string ReadBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buf[65536];
    DWORD cb = 0;
    while (ReadFile(h, buf, sizeof(buf), &cb, nullptr) && cb)
        out.append(buf, cb);
    CloseHandle(h);
    return out;
}

// Deterministic bytes: text that compresses, or noise that does not.
inline std::string Pattern(size_t cb, unsigned seed, bool bNoise = false)
{
    std::string out(cb, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < cb; ++i) {
        if (bNoise) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            out[i] = static_cast<char>(x);
        } else {
            out[i] = static_cast<char>('a' + (i * 7 + seed + i / 61) % 26);
        }
    }
    return out;
}

// Relative paths of every file below root, sorted, "\" separated.
inline void ListTree(const std::wstring& root, const std::wstring& rel,
                     std::vector<std::wstring>& out)
{
    WIN32_FIND_DATAW fd;
    std::wstring folder = rel.empty() ? root : root + L"\\" + rel;
    HANDLE hFind = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring sub = rel.empty() ? name : rel + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListTree(root, sub, out);
        else
            out.push_back(sub);
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
}

inline std::vector<std::wstring> Tree(const std::wstring& root)
{
    std::vector<std::wstring> out;
    ListTree(root, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

// The progress object as construction leaves it.
inline void ResetProgress(CSetupProgress& progress)
{
    progress.m_hParent = progress.m_hStepBar = progress.m_hMainBar = nullptr;
    progress.m_hPercentText = progress.m_hMainPercentText = nullptr;
    progress.m_hStepText = progress.m_hSecondText = nullptr;
    progress.m_byDisplayFlags = 0;
    progress.MinBar = 0;
    progress.MaxBar = 100;
    progress.MinBarStep = progress.MinMainBarStep = 0;
    progress.MaxBarStep = progress.MaxMainBarStep = 100;
    progress.m_dwStyle = PROGRESS_STYLE_NORMAL;
    progress.SizeBarStep = 100;
    progress.MaxData = 0;
    progress.Pos = progress.MainPos = 0;
    progress.m_ullBytesDone = 0;
    progress.m_pTaskbarList = nullptr;
    progress.m_dwTaskbarThread = 0;
}

// A scratch folder below %TEMP% for one test, removed afterwards; the
// process-wide run state is put back too.
class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR szTemp[MAX_PATH];
        GetTempPathW(MAX_PATH, szTemp);
        WCHAR szName[80];
        static unsigned s_serial;
        StringCchPrintfW(szName, 80, L"stowaway-payload-%lu-%u", GetCurrentProcessId(), ++s_serial);
        m_root = std::wstring(szTemp) + szName;
        WipeTree(m_root);
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
        ResetProgress(g_Progress);
        g_bCancel = 0;
        ZeroMemory(&TestRun().project, sizeof(TestRun().project));
        tracesink::Clear();
    }
    void TearDown() override
    {
        g_bCancel = 0;
        ResetProgress(g_Progress);
        WipeTree(m_root);
    }
    std::wstring Path(const std::wstring& rel) const
    {
        return rel.empty() ? m_root : m_root + L"\\" + rel;
    }
    std::string NPath(const std::wstring& rel) const { return Narrow(Path(rel)); }

    std::wstring m_root;
};

// The folder of the running test program (where the build puts every
// program and QELTRON.dll).
inline std::wstring BinFolder()
{
    WCHAR szPath[MAX_PATH];
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring path = szPath;
    return path.substr(0, path.find_last_of(L'\\'));
}

// Runs a program of the build folder and returns its exit code (or -1).
inline DWORD RunProgram(const std::wstring& commandLine, DWORD dwTimeout = 120000)
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<WCHAR> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
        return static_cast<DWORD>(-1);
    DWORD dwCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, dwTimeout) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwCode);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return dwCode;
}

inline std::wstring Quote(const std::wstring& s)
{
    return L"\"" + s + L"\"";
}

}  // namespace payloadtest
