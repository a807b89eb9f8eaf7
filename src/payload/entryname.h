// Which archive member names the system stores under their own name,
// below the folder they are unpacked into. Header-only, so that QELTRON.dll
// and the packer apply the same rule without the library.
#pragma once
#include <wchar.h>

namespace entryname {

// One part of a path (no separator) that the system opens as a device:
// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with or without an
// extension ("nul.txt"), in any letter case.
inline bool IsDeviceName(const wchar_t* szPart, size_t cchPart)
{
    // The system looks at the name up to its first dot, blanks at its end
    // ignored: "nul.txt" and "COM1 .log" are devices too.
    size_t cchBase = 0;
    while (cchBase < cchPart && szPart[cchBase] != L'.')
        ++cchBase;
    while (cchBase > 0 && szPart[cchBase - 1] == L' ')
        --cchBase;
    wchar_t szBase[8];
    if (cchBase < 3 || cchBase >= sizeof(szBase) / sizeof(szBase[0]))
        return false;
    for (size_t i = 0; i < cchBase; ++i) {
        wchar_t ch = szPart[i];
        szBase[i] = (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - L'a' + L'A') : ch;
    }
    szBase[cchBase] = L'\0';
    static const wchar_t* const DEVICES[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* szDevice : DEVICES) {
        if (wcscmp(szBase, szDevice) == 0)
            return true;
    }
    // COM1-9 and LPT1-9; the system counts the superscript digits too.
    if (cchBase == 4 && (wcsncmp(szBase, L"COM", 3) == 0 || wcsncmp(szBase, L"LPT", 3) == 0)) {
        wchar_t chDigit = szBase[3];
        return (chDigit >= L'1' && chDigit <= L'9') || chDigit == 0x00B9 || chDigit == 0x00B2 ||
               chDigit == 0x00B3;
    }
    return false;
}

// One part between separators that the system would store under another
// name, on a device, or not at all: "..", a name ending in "." or " ", a
// character names may not hold (< > " | ? * and control characters), a
// device name. An empty part ("a//b") adds nothing and passes.
inline bool IsUnsafePart(const wchar_t* szPart, size_t cchPart)
{
    if (cchPart == 0)
        return false;
    if (cchPart == 2 && szPart[0] == L'.' && szPart[1] == L'.')
        return true;
    wchar_t chLast = szPart[cchPart - 1];
    if (chLast == L'.' || chLast == L' ')
        return true;
    for (size_t i = 0; i < cchPart; ++i) {
        wchar_t ch = szPart[i];
        if (ch < 32 || ch == L'<' || ch == L'>' || ch == L'"' || ch == L'|' || ch == L'?' ||
            ch == L'*')
            return true;
    }
    return IsDeviceName(szPart, cchPart);
}

// A whole member name (parts separated by "\\" or "/"): refused when it is
// empty, absolute, carries a drive or stream (":"), or has an unsafe part.
inline bool IsUnsafeName(const wchar_t* szName)
{
    if (!szName || !szName[0] || szName[0] == L'\\' || szName[0] == L'/' || wcschr(szName, L':'))
        return true;
    const wchar_t* p = szName;
    while (*p) {
        const wchar_t* pEnd = p;
        while (*pEnd && *pEnd != L'\\' && *pEnd != L'/')
            ++pEnd;
        if (IsUnsafePart(p, static_cast<size_t>(pEnd - p)))
            return true;
        p = *pEnd ? pEnd + 1 : pEnd;
    }
    return false;
}

}  // namespace entryname
