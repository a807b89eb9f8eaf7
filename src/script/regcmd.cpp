#include "script/regcmd.h"
#include <shlwapi.h>
#include <strsafe.h>
#include "common/registry.h"
#include "common/trace.h"
#include "script/condition.h"
#include "script/script.h"

namespace {

enum : DWORD {
    CREATEKEY_DATA_CB = 2048, // CREATEKEY hands over at most 2048 bytes of data
};

}  // namespace

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
        if (!IsRegStringType(dwType) && dwType != REG_DWORD && dwType != REG_QWORD) {
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
    TrimBlanks(szMode);
    BOOL bResult = szMode[0] == L'0' ? RegCopyKeyTree(hSrc, szSrcKey, hDst, szDstKey)
                                     : RegCopyKeyValues(hSrc, szSrcKey, hDst, szDstKey);
    SetScriptResult(bResult);
    DebugTrace(L"ScriptCopyRegistry(%s, %s, %s, %s)->%d", szSrcRoot, szSrcKey, szDstRoot, szDstKey,
               bResult);
    return bResult;
}
