// Stand-in for a package's setup program. It records what it was given and
// what it can see, talks to the launcher's status window when asked, and
// exits with the requested code.
//
//   fakesetup [options] [/SETUPZK:<decimal hwnd>] [--hwnd <hex hwnd>]
//   --record FILE       write the record (UTF-8 lines) to FILE
//   --touch FILE        create FILE once started (tells a test we run)
//   --wait-file FILE    wait (up to 120 s) until FILE exists
//   --sleep MS          sleep before the messages are sent
//   --send WHAT         exit | end | hide | begin | launch | copydata:FILE[|ARGS[|VERB]]
//                       (repeatable, sent in order to the status window)
//   --run CMDLINE       run a program (another package, say) and wait for it
//   --exit N            exit code (default 0)
//   --digests FILE      write "<relative name> <size> <FNV-1a 64 of the bytes, hex>" for
//                       every file below the program's folder (what a run unpacked)
// Record lines: "cmdline=", "arg=" (one per argument), "cwd=", "exe=",
// "file=" (every file below the program's folder, relative), "hwnd=",
// "sent=<what>-><result>", "ran=<exit code of --run>".
#include <windows.h>
#include <shlwapi.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include "support/strings.h"
#include <vector>
#include "ui/statuswnd.h"

namespace {

using support::Utf8;

void ListFiles(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + L"\\" + rel + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(root, rel + name + L"\\", out);
        else
            out.push_back(rel + name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

HWND FindStatusWindow(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!_wcsnicmp(argv[i], L"/SETUPZK:", 9))
            return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoul(argv[i] + 9, nullptr, 10)));
        if (!wcscmp(argv[i], L"--hwnd") && i + 1 < argc)
            return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoull(argv[i + 1], nullptr, 16)));
    }
    return nullptr;
}

LRESULT SendLaunchRequest(HWND hStatus, const std::wstring& request)
{
    // FILE|ARGS|VERB
    std::wstring parts[3];
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        size_t bar = k < 2 ? request.find(L'|', start) : std::wstring::npos;
        parts[k] = request.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start);
        if (bar == std::wstring::npos)
            break;
        start = bar + 1;
    }
    auto* data = new SETUPLAUNCHDATA();
    lstrcpynW(data->szFile, parts[0].c_str(), PATH_CCH);
    lstrcpynW(data->szCmdLine, parts[1].c_str(), CMDLINE_CCH);
    lstrcpynW(data->szVerb, parts[2].c_str(), PATH_CCH);
    COPYDATASTRUCT cds = {SETUP_COPYDATA_LAUNCH, sizeof(*data), data};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hStatus, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL,
                        30000, &result);
    delete data;
    return static_cast<LRESULT>(result);
}

LRESULT Send(HWND hStatus, const std::wstring& what)
{
    struct Named {
        const wchar_t* name;
        UINT msg;
    };
    static const Named kMessages[] = {
        {L"exit", WM_SETUP_EXIT}, {L"end", WM_SETUP_END},     {L"launch", WM_SETUP_LAUNCH},
        {L"begin", WM_SETUP_BEGIN}, {L"hide", WM_SETUP_HIDE},
    };
    if (what.compare(0, 9, L"copydata:") == 0)
        return SendLaunchRequest(hStatus, what.substr(9));
    for (const Named& m : kMessages) {
        if (what == m.name) {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(hStatus, m.msg, 0, 0, SMTO_NORMAL, 30000, &result);
            return static_cast<LRESULT>(result);
        }
    }
    return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring recordFile, touchFile, waitFile, runLine, digestsFile;
    std::vector<std::wstring> sends;
    DWORD sleepMs = 0;
    int exitCode = 0;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == L"--record" && hasValue)
            recordFile = argv[++i];
        else if (a == L"--touch" && hasValue)
            touchFile = argv[++i];
        else if (a == L"--wait-file" && hasValue)
            waitFile = argv[++i];
        else if (a == L"--sleep" && hasValue)
            sleepMs = wcstoul(argv[++i], nullptr, 10);
        else if (a == L"--send" && hasValue)
            sends.push_back(argv[++i]);
        else if (a == L"--run" && hasValue)
            runLine = argv[++i];
        else if (a == L"--exit" && hasValue)
            exitCode = static_cast<int>(wcstol(argv[++i], nullptr, 10));
        else if (a == L"--digests" && hasValue)
            digestsFile = argv[++i];
    }

    if (!touchFile.empty())
        CloseHandle(CreateFileW(touchFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    for (int waited = 0; !waitFile.empty() && !PathFileExistsW(waitFile.c_str()) && waited < 120000;
         waited += 50)
        Sleep(50);
    if (sleepMs)
        Sleep(sleepMs);

    std::vector<std::string> lines;
    if (!runLine.empty()) {
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        std::vector<wchar_t> cmd(runLine.begin(), runLine.end());
        cmd.push_back(L'\0');
        DWORD dwCode = static_cast<DWORD>(-1);
        if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                           &pi)) {
            WaitForSingleObject(pi.hProcess, 300000);
            GetExitCodeProcess(pi.hProcess, &dwCode);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        lines.push_back("ran=" + std::to_string(static_cast<unsigned long>(dwCode)));
    }
    lines.push_back("cmdline=" + Utf8(GetCommandLineW()));
    for (int i = 1; i < argc; ++i)
        lines.push_back("arg=" + Utf8(argv[i]));
    WCHAR szPath[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, szPath);
    lines.push_back("cwd=" + Utf8(szPath));
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    lines.push_back("exe=" + Utf8(szPath));
    PathRemoveFileSpecW(szPath);
    std::vector<std::wstring> files;
    ListFiles(szPath, L"", files);
    for (const std::wstring& f : files)
        lines.push_back("file=" + Utf8(f));

    if (!digestsFile.empty()) {
        FILE* out = _wfopen(digestsFile.c_str(), L"wb");
        for (const std::wstring& f : files) {
            FILE* in = _wfopen((std::wstring(szPath) + L"\\" + f).c_str(), L"rb");
            unsigned long long hash = 14695981039346656037ull, size = 0;
            int c;
            while (in && (c = fgetc(in)) != EOF) {
                hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
                ++size;
            }
            if (in)
                fclose(in);
            if (out)
                fprintf(out, "%s %llu %016llx\n", Utf8(f).c_str(), size, hash);
        }
        if (out)
            fclose(out);
    }

    HWND hStatus = FindStatusWindow(argc, argv);
    char szHwnd[32];
    snprintf(szHwnd, sizeof(szHwnd), "%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hStatus)));
    lines.push_back(std::string("hwnd=") + szHwnd + (IsWindow(hStatus) ? " window" : " none"));
    for (const std::wstring& what : sends) {
        LRESULT r = IsWindow(hStatus) ? Send(hStatus, what) : -1;
        lines.push_back("sent=" + Utf8(what) + "->" + std::to_string(static_cast<long long>(r)));
    }

    if (!recordFile.empty()) {
        FILE* f = _wfopen(recordFile.c_str(), L"wb");
        if (f) {
            for (const std::string& l : lines)
                fprintf(f, "%s\n", l.c_str());
            fclose(f);
        }
    }
    return exitCode;
}
