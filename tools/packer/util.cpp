#include <algorithm>
#include "common/textcode.h"
#include "packer.h"

namespace packer {
namespace {

// Files go to out; folders that hold nothing at all go to empties.
void ListInto(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out,
              std::vector<std::wstring>* empties)
{
    std::wstring folder = rel.empty() ? root : root + L"\\" + rel;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    bool bEmpty = true;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        bEmpty = false;
        std::wstring sub = rel.empty() ? name : rel + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A linked folder could loop or leave the tree.
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                ListInto(root, sub, out, empties);
        } else {
            out.push_back(sub);
        }
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    if (bEmpty && empties && !rel.empty())
        empties->push_back(rel);
}

}  // namespace

std::vector<std::wstring> ListFolder(const std::wstring& folder)
{
    std::vector<std::wstring> out;
    ListInto(folder, L"", out, nullptr);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::wstring> ListEmptyFolders(const std::wstring& folder)
{
    std::vector<std::wstring> files, empties;
    ListInto(folder, L"", files, &empties);
    std::sort(empties.begin(), empties.end());
    return empties;
}

std::wstring FullPath(const std::wstring& path, const std::wstring& base)
{
    std::wstring joined = path;
    bool bRelative = !(path.size() >= 2 && path[1] == L':') &&
                     !(!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
    if (bRelative && !base.empty())
        joined = base + L"\\" + path;
    WCHAR szFull[MAX_PATH];
    DWORD cch = GetFullPathNameW(joined.c_str(), MAX_PATH, szFull, nullptr);
    if (cch == 0 || cch >= MAX_PATH)
        throw Failure{L"path too long: " + joined};
    return szFull;
}

bool IsFile(const std::wstring& path)
{
    DWORD dw = GetFileAttributesW(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && !(dw & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path)
{
    DWORD dw = GetFileAttributesW(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

ULONGLONG SizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fad))
        throw Failure{L"cannot read " + path};
    return (static_cast<ULONGLONG>(fad.nFileSizeHigh) << 32) | fad.nFileSizeLow;
}

std::string ToAnsi(const std::wstring& text, const wchar_t* what)
{
    if (text.empty())
        return std::string();
    BOOL bLossy = FALSE;
    int cb = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0,
                                 nullptr, &bLossy);
    if (cb <= 0 || bLossy)
        throw Failure{std::wstring(what) + L" has characters outside the ANSI code page: " + text};
    std::string out(static_cast<size_t>(cb - 1), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, &out[0], cb, nullptr,
                        nullptr);
    return out;
}

bool IsAsciiText(const std::string& text)
{
    return IsAscii(reinterpret_cast<const BYTE*>(text.data()), text.size()) != FALSE;
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? static_cast<size_t>(cb - 1) : 0, '\0');
    if (cb > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], cb, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int cch = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(cch > 0 ? static_cast<size_t>(cch - 1) : 0, L'\0');
    if (cch > 1)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], cch);
    return out;
}

}  // namespace packer
