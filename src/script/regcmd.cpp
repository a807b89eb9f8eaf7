#include "script/regcmd.h"
#include <shlwapi.h>
#include <stdlib.h>
#include <strsafe.h>
#include <vector>
#include "common/trace.h"
#include "script/condition.h"
#include "script/script.h"

namespace {

enum : DWORD {
    REG_READWRITE = 0x2001F,  // KEY_READ | KEY_WRITE
    REG_READONLY = 0x20019,   // KEY_READ
    REG_FULL = 0xF003F,       // KEY_ALL_ACCESS
    REG_NAME_CCH = 256,       // value and subkey names: 255 characters
    CREATEKEY_DATA_CB = 2048, // CREATEKEY hands over at most 2048 bytes of data
};

// An open registry key, closed once.
class CRegKey {
public:
    CRegKey() : m_hKey(nullptr) {}
    ~CRegKey()
    {
        if (m_hKey)
            RegCloseKey(m_hKey);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    LONG Open(HKEY hRoot, LPCWSTR szKey, REGSAM sam)
    {
        return RegOpenKeyExW(hRoot, szKey, 0, sam, &m_hKey);
    }
    LONG Create(HKEY hRoot, LPCWSTR szKey, REGSAM sam)
    {
        return RegCreateKeyExW(hRoot, szKey, 0, nullptr, 0, sam, nullptr, &m_hKey, nullptr);
    }
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey;
};

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

BOOL IsStringType(DWORD dwType)
{
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
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
        WCHAR szPath[SCRIPT_TEXT_CCH];
        StringCchPrintfW(szPath, ARRAYSIZE(szPath), L"%s\\%s", szSrcPath, szName);
        CRegKey src, dst;
        if (src.Open(hSrc, szName, REG_FULL) != ERROR_SUCCESS ||
            dst.Create(hDst, szName, REG_FULL) != ERROR_SUCCESS) {
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

BOOL CopyKey(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot, LPCWSTR szDstKey, BOOL bTree,
             LPCWSTR szCaller)
{
    if (IsSameOrInside(hSrcRoot, szSrcKey, hDstRoot, szDstKey, bTree)) {
        DebugTrace(L"%s(%s, %s)->Destination inside the source, refused!", szCaller, szSrcKey,
                   szDstKey);
        return FALSE;
    }
    CRegKey src, dst;
    if (src.Open(hSrcRoot, szSrcKey, REG_FULL) != ERROR_SUCCESS ||
        dst.Create(hDstRoot, szDstKey, REG_FULL) != ERROR_SUCCESS) {
        DebugTrace(L"%s(%s, %s)->0", szCaller, szSrcKey, szDstKey);
        return FALSE;
    }
    DeleteAllValues(dst.Get());
    RegCreateValues(src.Get(), szSrcKey, dst.Get());
    if (bTree)
        CopySubKeys(src.Get(), szSrcKey, dst.Get());
    DebugTrace(L"%s(%s, %s)->1", szCaller, szSrcKey, szDstKey);
    return TRUE;
}

}  // namespace

HKEY GetRootKey(LPCWSTR szToken, BOOL bPerMachine)
{
    if (ScriptCompareNoCase(szToken, L"<HKEY_USER_SELECTABLE>") == 0)
        return bPerMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    for (const TOKENVALUE& root : g_RootTokens)
        if (ScriptCompareNoCase(szToken, root.szToken) == 0)
            return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(root.value)));
    return HKEY_CLASSES_ROOT;
}

DWORD GetRegType(LPCWSTR szToken)
{
    for (const TOKENVALUE& type : g_TypeTokens)
        if (ScriptCompareNoCase(szToken, type.szToken) == 0)
            return static_cast<DWORD>(type.value);
    return REG_SZ;
}

BOOL RegDBCreateKey(HKEY hRoot, LPCWSTR szKey)
{
    CRegKey key;
    BOOL bResult = key.Create(hRoot, szKey, KEY_CREATE_SUB_KEY) == ERROR_SUCCESS;
    DebugTrace(L"RegDBCreateKey(%s)->%d", szKey, bResult);
    return bResult;
}

BOOL RegDBSetKeyValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName, DWORD dwType, LPCWSTR szData,
                      DWORD cbData)
{
    BOOL bResult = FALSE;
    int iLogged = static_cast<int>(cbData);
    CRegKey key;
    if (key.Create(hRoot, szKey, REG_READWRITE) == ERROR_SUCCESS) {
        LONG lResult;
        if (dwType == REG_DWORD) {
            DWORD dwValue = static_cast<DWORD>(wcstol(szData, nullptr, 10));
            iLogged = static_cast<int>(dwValue);
            lResult = RegSetValueExW(key.Get(), szName, 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
        } else if (IsStringType(dwType)) {
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
        bResult = lResult == ERROR_SUCCESS;
    }
    // A number is logged as itself, other data by its byte count.
    DebugTrace(L"RegDBSetKeyValue(%s, %s, %d)->%d", szKey, szName, iLogged, bResult);
    return bResult;
}

BOOL RegDBSetKeyValueDw(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName, DWORD dwValue)
{
    BOOL bResult = FALSE;
    CRegKey key;
    if (key.Create(hRoot, szKey, REG_READWRITE) == ERROR_SUCCESS)
        bResult = RegSetValueExW(key.Get(), szName, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&dwValue),
                                 sizeof(dwValue)) == ERROR_SUCCESS;
    DebugTrace(L"RegDBSetKeyValueDw(%s, %s, %d)->%d", szKey, szName, static_cast<int>(dwValue),
               bResult);
    return bResult;
}

BOOL RegDBDeleteValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName)
{
    CRegKey key;
    BOOL bResult = key.Open(hRoot, szKey, KEY_SET_VALUE) == ERROR_SUCCESS &&
                   RegDeleteValueW(key.Get(), szName) == ERROR_SUCCESS;
    DebugTrace(L"RegDBDeleteValue(%s, %s)->%d", szKey, szName, bResult);
    return bResult;
}

BOOL RegDBDeleteKey(HKEY hRoot, LPCWSTR szKey)
{
    // An empty path would name the root itself.
    BOOL bResult = szKey[0] && SHDeleteKeyW(hRoot, szKey) == ERROR_SUCCESS;
    DebugTrace(L"RegDBDeleteKey(%s)->%d", szKey, bResult);
    return bResult;
}

BOOL RegDBGetKeyValue(HKEY hRoot, LPCWSTR szKey, LPCWSTR szName, LPWSTR szBuffer,
                      DWORD cchBuffer)
{
    if (cchBuffer == 0)
        return FALSE;
    szBuffer[0] = 0;
    CRegKey key;
    DWORD dwType = 0;
    DWORD cbData = 0;
    if (key.Open(hRoot, szKey, REG_READONLY) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), szName, nullptr, &dwType, nullptr, &cbData) != ERROR_SUCCESS)
        return FALSE;
    std::vector<BYTE> data(cbData + sizeof(WCHAR));
    if (RegQueryValueExW(key.Get(), szName, nullptr, &dwType, data.data(), &cbData) !=
        ERROR_SUCCESS)
        return FALSE;
    if (dwType == REG_DWORD && cbData >= sizeof(DWORD)) {
        DWORD dwValue;
        memcpy(&dwValue, data.data(), sizeof(dwValue));
        StringCchPrintfW(szBuffer, cchBuffer, L"%d", static_cast<int>(dwValue));
    } else {
        size_t cbCopy = cbData;
        if (cbCopy > (cchBuffer - 1) * sizeof(WCHAR))
            cbCopy = (cchBuffer - 1) * sizeof(WCHAR);
        memcpy(szBuffer, data.data(), cbCopy);
        szBuffer[cbCopy / sizeof(WCHAR)] = 0;
    }
    return TRUE;
}

BOOL RegDBKeyExist(HKEY hRoot, LPCWSTR szKey)
{
    CRegKey key;
    return key.Open(hRoot, szKey, REG_READONLY) == ERROR_SUCCESS;
}

BOOL RegCopyKeyValues(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot, LPCWSTR szDstKey)
{
    return CopyKey(hSrcRoot, szSrcKey, hDstRoot, szDstKey, FALSE, L"RegCopyKeyValues");
}

BOOL RegCopyKeyTree(HKEY hSrcRoot, LPCWSTR szSrcKey, HKEY hDstRoot, LPCWSTR szDstKey)
{
    return CopyKey(hSrcRoot, szSrcKey, hDstRoot, szDstKey, TRUE, L"RegCopyKeyTree");
}

UINT ScriptCreateKey(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptCreateKey", szParams);
    WCHAR szRoot[SCRIPT_TEXT_CCH], szKey[SCRIPT_TEXT_CCH], szName[SCRIPT_TEXT_CCH];
    WCHAR szType[SCRIPT_TEXT_CCH], szData[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.Next(szRoot, ARRAYSIZE(szRoot));
    fields.ExpandRest();
    fields.Next(szKey, ARRAYSIZE(szKey));
    fields.ExpandRest();
    fields.Next(szName, ARRAYSIZE(szName));
    fields.Next(szType, ARRAYSIZE(szType));
    fields.ExpandRest();
    fields.Next(szData, ARRAYSIZE(szData));
    fields.Guard(guard);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    HKEY hRoot = GetRootKey(szRoot, TRUE);
    BOOL bResult;
    if (szName[0] || szType[0]) {
        DWORD dwType = GetRegType(szType);
        // 2048 bytes of data at most; raw types hold the text's own bytes.
        DWORD cbData = CREATEKEY_DATA_CB;
        if (!IsStringType(dwType) && dwType != REG_DWORD) {
            size_t cb = wcslen(szData) * sizeof(WCHAR);
            cbData = static_cast<DWORD>(cb < CREATEKEY_DATA_CB ? cb : static_cast<size_t>(CREATEKEY_DATA_CB));
        }
        bResult = RegDBSetKeyValue(hRoot, szKey, szName, dwType, szData, cbData);
        SetScriptResult(bResult);
    } else {
        // Only the key: the last result stays "0".
        bResult = RegDBCreateKey(hRoot, szKey);
    }
    DebugTrace(L"ScriptCreateKey(%s,%s,%s,%s,%s)->%d", szRoot, szKey, szName, szType, szData,
               bResult);
    return bResult;
}

UINT ScriptRemoveKey(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptRemoveKey", szParams);
    WCHAR szRoot[SCRIPT_TEXT_CCH], szKey[SCRIPT_TEXT_CCH], szName[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.Next(szRoot, ARRAYSIZE(szRoot));
    fields.Next(szKey, ARRAYSIZE(szKey));
    fields.Next(szName, ARRAYSIZE(szName));
    fields.Guard(guard);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    HKEY hRoot = GetRootKey(szRoot, TRUE);
    BOOL bResult = szName[0] ? RegDBDeleteValue(hRoot, szKey, szName) : RegDBDeleteKey(hRoot, szKey);
    SetScriptResult(bResult);
    DebugTrace(L"ScriptRemoveKey(%s,%s)->%d", szRoot, szKey, bResult);
    return bResult;
}

UINT ScriptCopyRegistry(LPCWSTR szParams)
{
    SetScriptResult(0);
    CScriptFields fields(L"ScriptCopyRegistry", szParams);
    WCHAR szSrcRoot[SCRIPT_TEXT_CCH], szSrcKey[SCRIPT_TEXT_CCH];
    WCHAR szDstRoot[SCRIPT_TEXT_CCH], szDstKey[SCRIPT_TEXT_CCH], szMode[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.Next(szSrcRoot, ARRAYSIZE(szSrcRoot));
    fields.Next(szSrcKey, ARRAYSIZE(szSrcKey));
    fields.Next(szDstRoot, ARRAYSIZE(szDstRoot));
    fields.Next(szDstKey, ARRAYSIZE(szDstKey));
    fields.Next(szMode, ARRAYSIZE(szMode));
    fields.Guard(guard);
    if (!fields.Valid() || !ScriptGuard(guard))
        return 0;

    HKEY hSrc = GetRootKey(szSrcRoot, TRUE);
    HKEY hDst = GetRootKey(szDstRoot, TRUE);
    BOOL bResult = szMode[0] == L'0' ? RegCopyKeyTree(hSrc, szSrcKey, hDst, szDstKey)
                                     : RegCopyKeyValues(hSrc, szSrcKey, hDst, szDstKey);
    SetScriptResult(bResult);
    DebugTrace(L"ScriptCopyRegistry(%s, %s, %s, %s)->%d", szSrcRoot, szSrcKey, szDstRoot, szDstKey,
               bResult);
    return bResult;
}
