#include "script/regcmd.h"
#include <shlwapi.h>
#include "common/boundedtext.h"
#include "common/registry.h"
#include "common/regguard.h"
#include "common/trace.h"
#include "script/condition.h"
#include "script/fields.h"

namespace {

enum : DWORD {
    CREATEKEY_DATA_CB = 2048, // CREATEKEY hands over at most 2048 bytes of data
};

// A key field, with the placeholders in it that stood for nothing.
struct SCRIPTKEY {
    WCHAR sz[SCRIPT_TEXT_CCH];
    WCHAR szEmptyVars[SCRIPT_EMPTYVARS_CCH];
};

// The registry guard of a line whose own guard passed: a key built on a
// placeholder that stood for nothing is refused, then GuardRegistryKey
// decides. "<handler>(<root>,<key>)->Refused: <reason>".
BOOL KeyAllowed(LPCWSTR szHandler, HKEY hRoot, LPCWSTR szRoot, const SCRIPTKEY& key, REGGUARDOP op)
{
    WCHAR szReason[REGGUARD_REASON_CCH];
    if (key.szEmptyVars[0])
        // A reason is only shown.
        (void)StringCchPrintfW(szReason, ARRAYSIZE(szReason), L"%s stood for nothing",
                               key.szEmptyVars);
    else if (GuardRegistryKey(hRoot, key.sz, op, szReason, ARRAYSIZE(szReason)))
        return TRUE;
    DebugTrace(L"%s(%s,%s)->Refused: %s", szHandler, szRoot, key.sz, szReason);
    return FALSE;
}

}  // namespace

UINT ScriptCreateKey(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptCreateKey", szParams);
    WCHAR szRoot[SCRIPT_TEXT_CCH], szName[SCRIPT_TEXT_CCH];
    WCHAR szType[SCRIPT_TEXT_CCH], szData[SCRIPT_TEXT_CCH];
    SCRIPTKEY key;
    fields.Next(szRoot, ARRAYSIZE(szRoot));
    fields.NextTracked(key.sz, ARRAYSIZE(key.sz), key.szEmptyVars, ARRAYSIZE(key.szEmptyVars));
    LPCWSTR szKey = key.sz;
    fields.ExpandRest();
    fields.Next(szName, ARRAYSIZE(szName));
    fields.Next(szType, ARRAYSIZE(szType));
    fields.ExpandRest();
    fields.Next(szData, ARRAYSIZE(szData));
    if (!ScriptLineRuns(fields))
        return 0;

    HKEY hRoot = GetRootKey(szRoot, TRUE);
    if (!KeyAllowed(L"ScriptCreateKey", hRoot, szRoot, key, REGGUARD_WRITE_VALUE))
        return 0;
    BOOL bResult;
    if (szName[0] || szType[0]) {
        DWORD dwType = GetRegType(szType);
        // 2048 bytes of data at most; raw types hold the text's own bytes.
        DWORD cbData = CREATEKEY_DATA_CB;
        if (!IsRegStringType(dwType) && dwType != REG_DWORD && dwType != REG_QWORD) {
            size_t cb = wcslen(szData) * sizeof(WCHAR);
            cbData = static_cast<DWORD>(cb < CREATEKEY_DATA_CB ? cb : static_cast<size_t>(CREATEKEY_DATA_CB));
        }
        bResult = RegDBSetKeyValue(hRoot, szKey, szName, dwType, szData, cbData) == ERROR_SUCCESS;
        SetScriptResult(run, bResult);
    } else {
        // Only the key: the last result stays "0".
        bResult = RegDBCreateKey(hRoot, szKey) == ERROR_SUCCESS;
    }
    DebugTrace(L"ScriptCreateKey(%s,%s,%s,%s,%s)->%d", szRoot, szKey, szName, szType, szData,
               bResult);
    return bResult;
}

UINT ScriptRemoveKey(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptRemoveKey", szParams);
    WCHAR szRoot[SCRIPT_TEXT_CCH], szName[SCRIPT_TEXT_CCH];
    SCRIPTKEY key;
    fields.Next(szRoot, ARRAYSIZE(szRoot));
    // No path variables here: the key is taken as written.
    fields.Next(key.sz, ARRAYSIZE(key.sz));
    key.szEmptyVars[0] = L'\0';
    LPCWSTR szKey = key.sz;
    fields.Next(szName, ARRAYSIZE(szName));
    if (!ScriptLineRuns(fields))
        return 0;

    HKEY hRoot = GetRootKey(szRoot, TRUE);
    if (!KeyAllowed(L"ScriptRemoveKey", hRoot, szRoot, key,
                    szName[0] ? REGGUARD_DELETE_VALUE : REGGUARD_DELETE_KEY))
        return 0;
    DWORD dwResult =
        szName[0] ? RegDBDeleteValue(hRoot, szKey, szName) : RegDBDeleteKey(hRoot, szKey);
    BOOL bResult = dwResult == ERROR_SUCCESS;
    SetScriptResult(run, bResult);
    DebugTrace(L"ScriptRemoveKey(%s,%s)->%d", szRoot, szKey, bResult);
    return bResult;
}

UINT ScriptCopyRegistry(SCRIPTRUN& run, LPCWSTR szParams)
{
    SetScriptResult(run, 0);
    CScriptFields fields(run, L"ScriptCopyRegistry", szParams);
    WCHAR szSrcRoot[SCRIPT_TEXT_CCH], szSrcKey[SCRIPT_TEXT_CCH];
    WCHAR szDstRoot[SCRIPT_TEXT_CCH], szMode[SCRIPT_TEXT_CCH];
    SCRIPTKEY dst;
    fields.Next(szSrcRoot, ARRAYSIZE(szSrcRoot));
    fields.Next(szSrcKey, ARRAYSIZE(szSrcKey));
    fields.Next(szDstRoot, ARRAYSIZE(szDstRoot));
    fields.Next(dst.sz, ARRAYSIZE(dst.sz));
    dst.szEmptyVars[0] = L'\0';
    LPCWSTR szDstKey = dst.sz;
    fields.Next(szMode, ARRAYSIZE(szMode));
    if (!ScriptLineRuns(fields))
        return 0;

    HKEY hSrc = GetRootKey(szSrcRoot, TRUE);
    HKEY hDst = GetRootKey(szDstRoot, TRUE);
    if (!KeyAllowed(L"ScriptCopyRegistry", hDst, szDstRoot, dst, REGGUARD_COPY_INTO))
        return 0;
    TrimBlanks(szMode);
    DWORD dwResult = szMode[0] == L'0' ? RegCopyKeyTree(hSrc, szSrcKey, hDst, szDstKey)
                                       : RegCopyKeyValues(hSrc, szSrcKey, hDst, szDstKey);
    BOOL bResult = dwResult == ERROR_SUCCESS;
    SetScriptResult(run, bResult);
    DebugTrace(L"ScriptCopyRegistry(%s, %s, %s, %s)->%d", szSrcRoot, szSrcKey, szDstRoot, szDstKey,
               bResult);
    return bResult;
}
