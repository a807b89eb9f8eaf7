// Scratch files of the tests: made, looked at and removed by plain system
// calls, independent of the code under test.
#pragma once
#include <windows.h>
#include <string>

namespace support {

// A path for a failure message (the tests' paths are ASCII).
inline std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t ch : text)
        out += static_cast<char>(ch);
    return out;
}

inline bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes a file or a whole scratch tree whatever its attributes. A link
// goes as itself: what it points to is never walked.
inline void RemoveTree(const std::wstring& path)
{
    DWORD dwAttributes = GetFileAttributesW(path.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW fd;
        HANDLE hFind = FindFirstFileW((path + L"\\*").c_str(), &fd);
        if (hFind != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = fd.cFileName;
                if (name != L"." && name != L"..")
                    RemoveTree(path + L"\\" + name);
            } while (FindNextFileW(hFind, &fd));
            FindClose(hFind);
        }
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace support
