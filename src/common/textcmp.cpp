#include "common/textcmp.h"
#include <string.h>

namespace {

WCHAR FoldChar(WCHAR ch)
{
    return static_cast<WCHAR>(
        reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(ch)))));
}

}  // namespace

int ScriptCompareNoCaseN(LPCWSTR szA, LPCWSTR szB, size_t cch)
{
    for (size_t i = 0; i < cch; ++i) {
        WCHAR a = FoldChar(szA[i]);
        WCHAR b = FoldChar(szB[i]);
        if (a != b)
            return a < b ? -1 : 1;
        if (a == 0)
            return 0;
    }
    return 0;
}

int ScriptCompareNoCase(LPCWSTR szA, LPCWSTR szB)
{
    return ScriptCompareNoCaseN(szA, szB, static_cast<size_t>(-1));
}

void ScriptUpper(LPWSTR sz)
{
    for (; *sz; ++sz)
        *sz = FoldChar(*sz);
}


void TrimBlanks(LPWSTR sz)
{
    if (!sz)
        return;
    LPWSTR pStart = sz;
    while (*pStart == L' ' || *pStart == L'\t')
        ++pStart;
    size_t cch = wcslen(pStart);
    while (cch > 0 && (pStart[cch - 1] == L' ' || pStart[cch - 1] == L'\t'))
        --cch;
    memmove(sz, pStart, cch * sizeof(WCHAR));
    sz[cch] = L'\0';
}
