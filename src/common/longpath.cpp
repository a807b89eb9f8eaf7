#include "common/longpath.h"
#include "common/capacity.h"

std::wstring LongPathForm(const std::wstring& path)
{
    // CreateDirectory stops short of MAX_PATH by the 8.3 name it must leave room for.
    const size_t PLAIN_LIMIT = MAX_PATH - 12;
    if (path.size() < PLAIN_LIMIT || path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return L"\\\\?\\" + path;
    // A relative path: the long form needs the full one.
    DWORD cch = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (cch == 0 || cch > LONG_PATH_CCH)
        return path;
    std::wstring full(cch, L'\0');
    DWORD cchFull = GetFullPathNameW(path.c_str(), cch, &full[0], nullptr);
    if (cchFull == 0 || cchFull >= cch)
        return path;
    full.resize(cchFull);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return path;
}
