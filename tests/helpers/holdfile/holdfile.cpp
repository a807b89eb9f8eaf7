// Holds files open without sharing, as a program that planted them would:
//   holdfile --hold FILE [--hold FILE ...] --ready FILE --until FILE
// --ready is created once every file is held; the files are let go when
// --until exists (or after 120 s). Exit code: the number of files that
// could not be held.
#include <windows.h>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> holds;
    std::wstring ready, until;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring a = argv[i];
        if (a == L"--hold")
            holds.push_back(argv[i + 1]);
        else if (a == L"--ready")
            ready = argv[i + 1];
        else if (a == L"--until")
            until = argv[i + 1];
    }
    int failed = 0;
    std::vector<HANDLE> handles;
    for (const std::wstring& path : holds) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            ++failed;
        else
            handles.push_back(h);
    }
    if (!ready.empty())
        CloseHandle(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    for (int waited = 0; waited < 120000; waited += 50) {
        if (!until.empty() && GetFileAttributesW(until.c_str()) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(50);
    }
    for (HANDLE h : handles)
        CloseHandle(h);
    return failed;
}
