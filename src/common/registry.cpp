#include "common/registry.h"
#include <shlwapi.h>
#include <stdlib.h>
#include "common/boundedtext.h"
#include <vector>
#include "common/handles.h"
#include "common/textcmp.h"
#include "common/trace.h"

namespace {

enum : DWORD {
    REG_READWRITE = 0x2001F,  // KEY_READ | KEY_WRITE
    REG_READONLY = 0x20019,   // KEY_READ
    REG_FULL = 0xF003F,       // KEY_ALL_ACCESS
    REG_NAME_CCH = 256,       // value and subkey names: 255 characters
    REG_PATH_CCH = 2048,      // a key path as the trace shows it
};

LONG OpenKey(CRegKey& key, HKEY hRoot, LPCWSTR szKey, REGSAM sam)
{
    return RegOpenKeyExW(hRoot, szKey, 0, sam, key.Put());
}

LONG CreateKey(CRegKey& key, HKEY hRoot, LPCWSTR szKey, REGSAM sam)
{
    return RegCreateKeyExW(hRoot, szKey, 0, nullptr, 0, sam, nullptr, key.Put(), nullptr);
}

struct TOKENVALUE {
    LPCWSTR szToken;
    ULONG_PTR value;
};

const TOKENVALUE g_RootTokens[] = {
    {L"<HKEY_CLASSES_ROOT>", 0x80000000},     {L"<HKEY_CURRENT_USER>", 0x80000001},
    {L"<HKEY_LOCAL_MACHINE>", 0x80000002},    {L"<HKEY_USERS>", 0x80000003},
    {L"<HKEY_PERFORMANCE_DATA>", 0x80000004}, {L"<HKEY_CURRENT_CONFIG>", 0x80000005},
    {L"<HKEY_DYN_DATA>", 0x80000006},         {L"<HKEY_PERFORMANCE_TEXT>", 0x80000050},
    {L"<HKEY_PERFORMANCE_NLSTEXT>", 0x80000060},
};

const TOKENVALUE g_TypeTokens[] = {
    {L"<REG_NONE>", REG_NONE},
    {L"<REG_SZ>", REG_SZ},
    {L"<REG_EXPAND_SZ>", REG_EXPAND_SZ},
    {L"<REG_BINARY>", REG_BINARY},
    {L"<REG_DWORD>", REG_DWORD},
    {L"<REG_DWORD_BIG_ENDIAN>", REG_DWORD_BIG_ENDIAN},
    {L"<REG_LINK>", REG_LINK},
    {L"<REG_MULTI_SZ>", REG_MULTI_SZ},
    {L"<REG_QWORD>", REG_QWORD},
};

// A REG_QWORD's data: decimal text, signed or not, blanks around it
// ignored; text that is no number gives 0.
ULONGLONG DecimalToQword(LPCWSTR szData)
{
    LPCWSTR p = szData ? szData : L"";
    while (*p == L' ' || *p == L'\t')
        ++p;
    if (*p == L'-')
        return static_cast<ULONGLONG>(_wcstoi64(p, nullptr, 10));
    return _wcstoui64(p, nullptr, 10);
}

// Empties a key of its values: the value at index 0, until none is left.
void DeleteAllValues(HKEY hKey)
{
    for (;;) {
        WCHAR szName[REG_NAME_CCH];
        DWORD cchName = ARRAYSIZE(szName);
        if (RegEnumValueW(hKey, 0, szName, &cchName, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS ||
            RegDeleteValueW(hKey, szName) != ERROR_SUCCESS)
            break;
    }
}

// Copies every value of hSrc into hDst; the first error stops the copy.
void RegCreateValues(HKEY hSrc, LPCWSTR szSubKey, HKEY hDst)
{
    DWORD cbMaxData = 0;
    if (RegQueryInfoKeyW(hSrc, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &cbMaxData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<BYTE> data(cbMaxData ? cbMaxData : 1);
    for (DWORD i = 0;; ++i) {
        WCHAR szName[REG_NAME_CCH];
        DWORD cchName = ARRAYSIZE(szName);
        DWORD dwType = 0;
        DWORD cbData = static_cast<DWORD>(data.size());
        if (RegEnumValueW(hSrc, i, szName, &cchName, nullptr, &dwType, data.data(), &cbData) !=
            ERROR_SUCCESS)
            break;
        if (RegSetValueExW(hDst, szName, 0, dwType, data.data(), cbData) != ERROR_SUCCESS)
            break;
        DebugTrace(L"RegCreateValues(%d, %s, %d)", static_cast<int>(reinterpret_cast<INT_PTR>(hSrc)),
                   szSubKey, static_cast<int>(reinterpret_cast<INT_PTR>(hDst)));
    }
}

// Copies every subkey of hSrc into hDst with its values and its subkeys.
void CopySubKeys(HKEY hSrc, LPCWSTR szSrcPath, HKEY hDst)
{
    for (DWORD i = 0;; ++i) {
        WCHAR szName[REG_NAME_CCH];
        DWORD cchName = ARRAYSIZE(szName);
        if (RegEnumKeyExW(hSrc, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        WCHAR szPath[REG_PATH_CCH];
        // Only traced.
        (void)StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s", szSrcPath, szName);
        CRegKey src, dst;
        if (OpenKey(src, hSrc, szName, REG_FULL) != ERROR_SUCCESS ||
            CreateKey(dst, hDst, szName, REG_FULL) != ERROR_SUCCESS) {
            DebugTrace(L"RegCopyKeyTree()->%s not copied!", szPath);
            continue;
        }
        RegCreateValues(src.Get(), szPath, dst.Get());
        CopySubKeys(src.Get(), szPath, dst.Get());
    }
}

// Length of a key path without trailing backslashes.
size_t KeyLength(LPCWSTR szKey)
{
    size_t cch = wcslen(szKey);
    while (cch > 0 && szKey[cch - 1] == L'\\')
        --cch;
    return cch;
}

// TRUE when the destination is the source key itself or (bInside) lies
// below it: copying would then destroy the source or never end.
BOOL IsSameOrInside(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot, LPCWSTR szDstKey,
                    BOOL bInside)
{
    if (hSrcRoot != hDstRoot)
        return FALSE;
    size_t cchSrc = KeyLength(szSrcKey);
    size_t cchDst = KeyLength(szDstKey);
    if (cchDst < cchSrc || ScriptCompareNoCaseN(szSrcKey, szDstKey, cchSrc) != 0)
        return FALSE;
    if (cchDst == cchSrc)
        return TRUE;
    return bInside && (cchSrc == 0 || szDstKey[cchSrc] == L'\\');
}

DWORD CopyKey(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot, LPCWSTR szDstKey, BOOL bTree,
              LPCWSTR szCaller)
{
    if (IsSameOrInside(hSrcRoot, szSrcKey, hDstRoot, szDstKey, bTree)) {
        DebugTrace(L"%s(%s, %s)->Destination inside the source, refused!", szCaller, szSrcKey,
                   szDstKey);
        return ERROR_INVALID_PARAMETER;
    }
    CRegKey src, dst;
    LONG lResult = OpenKey(src, hSrcRoot, szSrcKey, REG_FULL);
    if (lResult == ERROR_SUCCESS)
        lResult = CreateKey(dst, hDstRoot, szDstKey, REG_FULL);
    if (lResult != ERROR_SUCCESS) {
        DebugTrace(L"%s(%s, %s)->0", szCaller, szSrcKey, szDstKey);
        return static_cast<DWORD>(lResult);
    }
    DeleteAllValues(dst.Get());
    RegCreateValues(src.Get(), szSrcKey, dst.Get());
    if (bTree)
        CopySubKeys(src.Get(), szSrcKey, dst.Get());
    DebugTrace(L"%s(%s, %s)->1", szCaller, szSrcKey, szDstKey);
    return ERROR_SUCCESS;
}

}  // namespace

HKEY GetRootKey(LPCWSTR szToken, BOOL bPerMachine)
{
    // Blanks around the token are no part of it.
    WCHAR szRoot[REG_NAME_CCH];
    if (FAILED(StringCchCopyW(szRoot, ARRAYSIZE(szRoot), szToken ? szToken : L"")))
        szRoot[0] = L'\0';
    TrimBlanks(szRoot);
    if (ScriptCompareNoCase(szRoot, L"<HKEY_USER_SELECTABLE>") == 0)
        return bPerMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    for (const TOKENVALUE& root : g_RootTokens)
        if (ScriptCompareNoCase(szRoot, root.szToken) == 0)
            return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(root.value)));
    if (szRoot[0])
        DebugTrace(L"GetRootKey(%s)->Unknown root, HKEY_CLASSES_ROOT used", szToken);
    return HKEY_CLASSES_ROOT;
}

DWORD GetRegType(LPCWSTR szToken)
{
    WCHAR szType[REG_NAME_CCH];
    if (FAILED(StringCchCopyW(szType, ARRAYSIZE(szType), szToken ? szToken : L"")))
        szType[0] = L'\0';
    TrimBlanks(szType);
    for (const TOKENVALUE& type : g_TypeTokens)
        if (ScriptCompareNoCase(szType, type.szToken) == 0)
            return static_cast<DWORD>(type.value);
    if (szType[0])
        DebugTrace(L"GetRegType(%s)->Unknown type, REG_SZ used", szToken);
    return REG_SZ;
}

DWORD RegDBCreateKey(HKEY hRoot, LPCWSTR szKey)
{
    CRegKey key;
    LONG lResult = CreateKey(key, hRoot, szKey, KEY_CREATE_SUB_KEY);
    DebugTrace(L"RegDBCreateKey(%s)->%d", szKey, lResult == ERROR_SUCCESS);
    return static_cast<DWORD>(lResult);
}

DWORD RegDBSetKeyValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName, DWORD dwType, LPCWSTR szData,
                       DWORD cbData)
{
    int iLogged = static_cast<int>(cbData);
    CRegKey key;
    LONG lResult = CreateKey(key, hRoot, szKey, REG_READWRITE);
    if (lResult == ERROR_SUCCESS) {
        if (dwType == REG_DWORD) {
            DWORD dwValue = static_cast<DWORD>(wcstol(szData, nullptr, 10));
            iLogged = static_cast<int>(dwValue);
            lResult = RegSetValueExW(key.Get(), szName, 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
        } else if (dwType == REG_QWORD) {
            // Decimal text in 8 bytes, as REG_DWORD in 4.
            ULONGLONG ullValue = DecimalToQword(szData);
            iLogged = static_cast<int>(ullValue);
            lResult = RegSetValueExW(key.Get(), szName, 0, REG_QWORD,
                                     reinterpret_cast<const BYTE*>(&ullValue), sizeof(ullValue));
        } else if (IsRegStringType(dwType)) {
            // Only the text and its terminator: zeros padded up to the
            // buffer's size would become part of the value for many readers.
            size_t cchMax = cbData / sizeof(WCHAR);
            size_t cchText = 0;
            while (cchText < cchMax && szData[cchText])
                ++cchText;
            if (cchText == cchMax && cchText > 0)
                --cchText;  // no room for the terminator: cut
            std::vector<WCHAR> text(szData, szData + cchText);
            text.push_back(0);
            if (dwType == REG_MULTI_SZ)
                text.push_back(0);
            lResult = RegSetValueExW(key.Get(), szName, 0, dwType,
                                     reinterpret_cast<const BYTE*>(text.data()),
                                     static_cast<DWORD>(text.size() * sizeof(WCHAR)));
        } else {
            lResult = RegSetValueExW(key.Get(), szName, 0, dwType,
                                     reinterpret_cast<const BYTE*>(szData), cbData);
        }
    }
    // A number is logged as itself, other data by its byte count.
    DebugTrace(L"RegDBSetKeyValue(%s, %s, %d)->%d", szKey, szName, iLogged,
               lResult == ERROR_SUCCESS);
    return static_cast<DWORD>(lResult);
}

DWORD RegDBDeleteValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName)
{
    CRegKey key;
    LONG lResult = OpenKey(key, hRoot, szKey, KEY_SET_VALUE);
    if (lResult == ERROR_SUCCESS)
        lResult = RegDeleteValueW(key.Get(), szName);
    DebugTrace(L"RegDBDeleteValue(%s, %s)->%d", szKey, szName, lResult == ERROR_SUCCESS);
    return static_cast<DWORD>(lResult);
}

DWORD RegDBDeleteKey(HKEY hRoot, LPCWSTR szKey)
{
    // An empty path would name the root itself.
    LONG lResult = szKey[0] ? SHDeleteKeyW(hRoot, szKey) : ERROR_INVALID_PARAMETER;
    DebugTrace(L"RegDBDeleteKey(%s)->%d", szKey, lResult == ERROR_SUCCESS);
    return static_cast<DWORD>(lResult);
}

DWORD RegDBGetKeyValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName, LPWSTR szBuffer,
                       DWORD cchBuffer)
{
    if (cchBuffer == 0)
        return ERROR_INSUFFICIENT_BUFFER;
    szBuffer[0] = 0;
    CRegKey key;
    DWORD dwType = 0;
    DWORD cbData = 0;
    LONG lResult = OpenKey(key, hRoot, szKey, REG_READONLY);
    if (lResult == ERROR_SUCCESS)
        lResult = RegQueryValueExW(key.Get(), szName, nullptr, &dwType, nullptr, &cbData);
    if (lResult != ERROR_SUCCESS)
        return static_cast<DWORD>(lResult);
    std::vector<BYTE> data(cbData + sizeof(WCHAR));
    lResult = RegQueryValueExW(key.Get(), szName, nullptr, &dwType, data.data(), &cbData);
    if (lResult != ERROR_SUCCESS)
        return static_cast<DWORD>(lResult);
    if (dwType == REG_DWORD && cbData >= sizeof(DWORD)) {
        DWORD dwValue;
        memcpy(&dwValue, data.data(), sizeof(dwValue));
        // A number of at most 20 characters; callers give room for a value.
        (void)StringCchPrintfW(szBuffer, cchBuffer, L"%d", static_cast<int>(dwValue));
    } else if (dwType == REG_QWORD && cbData >= sizeof(ULONGLONG)) {
        LONGLONG llValue;
        memcpy(&llValue, data.data(), sizeof(llValue));
        (void)StringCchPrintfW(szBuffer, cchBuffer, L"%I64d", llValue);
    } else {
        size_t cbCopy = cbData;
        if (cbCopy > (cchBuffer - 1) * sizeof(WCHAR))
            cbCopy = (cchBuffer - 1) * sizeof(WCHAR);
        memcpy(szBuffer, data.data(), cbCopy);
        szBuffer[cbCopy / sizeof(WCHAR)] = 0;
    }
    return ERROR_SUCCESS;
}

BOOL RegDBKeyExist(HKEY hRoot, LPCWSTR szKey)
{
    CRegKey key;
    return OpenKey(key, hRoot, szKey, REG_READONLY) == ERROR_SUCCESS;
}

DWORD RegCopyKeyValues(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot, LPCWSTR szDstKey)
{
    return CopyKey(hSrcRoot, szSrcKey, hDstRoot, szDstKey, FALSE, L"RegCopyKeyValues");
}

DWORD RegCopyKeyTree(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot, LPCWSTR szDstKey)
{
    return CopyKey(hSrcRoot, szSrcKey, hDstRoot, szDstKey, TRUE, L"RegCopyKeyTree");
}

BOOL IsRegStringType(DWORD dwType)
{
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}
