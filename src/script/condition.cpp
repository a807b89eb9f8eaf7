#include "script/condition.h"
#include <stdlib.h>
#include "common/boundedtext.h"
#include "common/cancel.h"
#include "common/osversion.h"
#include "common/trace.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "common/registry.h"
#include "common/process.h"

namespace {

// How the fields after an IF token are laid out.
enum IFKIND {
    IF_SETUPVAR,  // text, operator, operand, labels
    IF_INIFILE,   // INI path, section, key, operator, operand, labels
    IF_REGREAD,   // root, key, value, operator, operand, labels
    IF_REGEXIST,  // root, key, value, expected, labels
    IF_FILEKEY,   // root, key, value (a path), expected, labels
    IF_PATH,      // path, expected, labels
    IF_MODULE,    // program, expected, labels
    IF_INIT,
};

struct IFTOKEN {
    LPCWSTR szToken;
    IFKIND kind;
};

const IFTOKEN g_IfTokens[] = {
    {L"<SETUPVAR_READ>", IF_SETUPVAR}, {L"<INIFILE_READ>", IF_INIFILE},
    {L"<REGKEY_READ>", IF_REGREAD},    {L"<REGKEY_EXIST>", IF_REGEXIST},
    {L"<FILEKEY_EXIST>", IF_FILEKEY},  {L"<DIRKEY_EXIST>", IF_FILEKEY},
    {L"<FILE_EXIST>", IF_PATH},        {L"<DIR_EXIST>", IF_PATH},
    {L"<MODULE_EXIST>", IF_MODULE},    {L"<INIT>", IF_INIT},
};

// The value is the left side, the operand the right side. FALSE in
// *pbKnown for an operator that is not in the table.
BOOL CompareValue(LPCWSTR szValue, LPCWSTR szOperator, LPCWSTR szOperand, BOOL* pbKnown)
{
    *pbKnown = TRUE;
    if (ScriptCompareNoCase(szOperator, L"=") == 0)
        return ScriptCompareNoCase(szValue, szOperand) == 0;
    if (ScriptCompareNoCase(szOperator, L"!=") == 0)
        return ScriptCompareNoCase(szValue, szOperand) != 0;
    if (ScriptCompareNoCase(szOperator, L"<") == 0)
        return ScriptCompareNoCase(szValue, szOperand) < 0;
    if (ScriptCompareNoCase(szOperator, L">") == 0)
        return ScriptCompareNoCase(szValue, szOperand) > 0;
    if (ScriptCompareNoCase(szOperator, L"%") == 0)
        return wcsstr(szValue, szOperand) != nullptr;
    // "Begin" holds when the value does NOT start with the operand: scripts
    // in the field are written against that meaning.
    if (ScriptCompareNoCase(szOperator, L"Begin") == 0)
        return ScriptCompareNoCaseN(szValue, szOperand, wcslen(szOperand)) != 0;
    *pbKnown = FALSE;
    return FALSE;
}

BOOL PathExists(LPCWSTR szPath)
{
    return szPath[0] && GetFileAttributesW(szPath) != INVALID_FILE_ATTRIBUTES;
}

void AddLabel(SCRIPTRUN& run, LPCWSTR szLabel)
{
    if (!szLabel[0] || wcsstr(run.szCondition, szLabel))
        return;
    // A label that would not fit whole is left out.
    if (wcslen(run.szCondition) + wcslen(szLabel) >= ARRAYSIZE(run.szCondition))
        return;
    // Checked above.
    (void)StringCchCatW(run.szCondition, ARRAYSIZE(run.szCondition), szLabel);
}

// Reads the operator, the operand and the labels of a reading test and
// evaluates it. Returns the label to add (empty for none).
void EvaluateReading(CScriptFields& fields, BOOL bComplete, LPCWSTR szValue, LPWSTR szLabel)
{
    WCHAR szOperator[SCRIPT_TEXT_CCH], szOperand[SCRIPT_TEXT_CCH];
    WCHAR szTrue[SCRIPT_TEXT_CCH], szFalse[SCRIPT_TEXT_CCH];
    bComplete = bComplete && fields.Next(szOperator, ARRAYSIZE(szOperator));
    bComplete = bComplete && fields.NextExpanded(szOperand, ARRAYSIZE(szOperand));
    if (!bComplete)
        return;
    fields.NextExpanded(szTrue, ARRAYSIZE(szTrue));
    fields.NextExpanded(szFalse, ARRAYSIZE(szFalse));
    if (!fields.Valid())
        return;
    BOOL bKnown;
    BOOL bHolds = CompareValue(szValue, szOperator, szOperand, &bKnown);
    if (bKnown)
        // Same capacity.
        (void)StringCchCopyW(szLabel, SCRIPT_TEXT_CCH, bHolds ? szTrue : szFalse);
}

// Reads the expectation and the labels of an existence test.
void EvaluateExistence(CScriptFields& fields, BOOL bComplete, BOOL bExpandRest, BOOL bExists,
                       LPWSTR szLabel)
{
    WCHAR szExpected[SCRIPT_TEXT_CCH], szTrue[SCRIPT_TEXT_CCH], szFalse[SCRIPT_TEXT_CCH];
    if (!bComplete)
        return;
    if (bExpandRest) {
        bComplete = fields.NextExpanded(szExpected, ARRAYSIZE(szExpected));
        fields.NextExpanded(szTrue, ARRAYSIZE(szTrue));
        fields.NextExpanded(szFalse, ARRAYSIZE(szFalse));
    } else {
        bComplete = fields.Next(szExpected, ARRAYSIZE(szExpected));
        fields.Next(szTrue, ARRAYSIZE(szTrue));
        fields.Next(szFalse, ARRAYSIZE(szFalse));
    }
    if (!bComplete || !fields.Valid())
        return;
    BOOL bExpected = ScriptCompareNoCase(szExpected, L"<TRUE>") == 0;
    (void)StringCchCopyW(szLabel, SCRIPT_TEXT_CCH, (!bExists == !bExpected) ? szTrue : szFalse);
}

}  // namespace

BOOL GuardOsPasses(const SCRIPTGUARD& guard)
{
    return CheckOs(g_OsVersion.szOsCode, guard.szOs);
}

BOOL GuardLabelPasses(const SCRIPTRUN& run, const SCRIPTGUARD& guard)
{
    return ScriptCompareNoCase(guard.szCondIf, run.szCondition) == 0;
}

BOOL GuardSpPasses(const SCRIPTGUARD& guard)
{
    return !guard.szSP[0] || wcsstr(g_szSP, guard.szSP) != nullptr;
}

BOOL ScriptGuard(const SCRIPTRUN& run, const SCRIPTGUARD& guard)
{
    return GuardOsPasses(guard) && GuardLabelPasses(run, guard) && GuardSpPasses(guard);
}

BOOL ScriptLineRuns(CScriptFields& fields)
{
    SCRIPTGUARD guard;
    fields.Guard(guard);
    return fields.Valid() && ScriptGuard(fields.Run(), guard);
}

UINT ScriptIF(SCRIPTRUN& run, LPCWSTR szParams)
{
    CScriptFields fields(run, L"ScriptIF", szParams);
    WCHAR szToken[SCRIPT_TEXT_CCH];
    WCHAR szLabel[SCRIPT_TEXT_CCH] = L"";
    BOOL bComplete = fields.Next(szToken, ARRAYSIZE(szToken));

    IFKIND kind = IF_INIT;
    BOOL bKnownToken = FALSE;
    for (const IFTOKEN& token : g_IfTokens) {
        if (ScriptCompareNoCase(szToken, token.szToken) == 0) {
            kind = token.kind;
            bKnownToken = TRUE;
            break;
        }
    }

    if (bKnownToken && bComplete) {
        switch (kind) {
        case IF_SETUPVAR: {
            WCHAR szValue[SCRIPT_TEXT_CCH];
            bComplete = fields.NextExpanded(szValue, ARRAYSIZE(szValue));
            EvaluateReading(fields, bComplete, szValue, szLabel);
            break;
        }
        case IF_INIFILE: {
            WCHAR szIni[PATH_CCH], szSection[SCRIPT_TEXT_CCH], szKey[SCRIPT_TEXT_CCH];
            WCHAR szValue[SCRIPT_TEXT_CCH] = L"";
            bComplete = fields.NextExpanded(szIni, ARRAYSIZE(szIni)) &&
                        fields.Next(szSection, ARRAYSIZE(szSection)) &&
                        fields.Next(szKey, ARRAYSIZE(szKey));
            if (bComplete && fields.Valid())
                GetPrivateProfileStringW(szSection, szKey, L"", szValue, ARRAYSIZE(szValue),
                                         szIni);
            EvaluateReading(fields, bComplete, szValue, szLabel);
            break;
        }
        case IF_REGREAD: {
            WCHAR szRoot[SCRIPT_TEXT_CCH], szKey[SCRIPT_TEXT_CCH], szName[SCRIPT_TEXT_CCH];
            WCHAR szValue[SCRIPT_TEXT_CCH] = L"";  // 4096 bytes
            bComplete = fields.Next(szRoot, ARRAYSIZE(szRoot)) &&
                        fields.NextExpanded(szKey, ARRAYSIZE(szKey)) &&
                        fields.NextExpanded(szName, ARRAYSIZE(szName));
            if (bComplete && fields.Valid() &&
                RegDBGetKeyValue(GetRootKey(szRoot, TRUE), szKey, szName, szValue,
                                 ARRAYSIZE(szValue)) != ERROR_SUCCESS)
                szValue[0] = 0;
            EvaluateReading(fields, bComplete, szValue, szLabel);
            break;
        }
        case IF_REGEXIST:
        case IF_FILEKEY: {
            WCHAR szRoot[SCRIPT_TEXT_CCH], szKey[SCRIPT_TEXT_CCH], szName[SCRIPT_TEXT_CCH];
            bComplete = fields.Next(szRoot, ARRAYSIZE(szRoot)) &&
                        fields.Next(szKey, ARRAYSIZE(szKey)) &&
                        fields.Next(szName, ARRAYSIZE(szName));
            BOOL bExists = FALSE;
            if (bComplete && fields.Valid()) {
                HKEY hRoot = GetRootKey(szRoot, TRUE);
                if (kind == IF_FILEKEY) {
                    WCHAR szPath[PATH_CCH];
                    if (RegDBGetKeyValue(hRoot, szKey, szName, szPath, ARRAYSIZE(szPath)) !=
                        ERROR_SUCCESS)
                        szPath[0] = 0;
                    bExists = PathExists(szPath);
                } else if (!szName[0]) {
                    bExists = RegDBKeyExist(hRoot, szKey);
                } else {
                    WCHAR szValue[SCRIPT_TEXT_CCH];
                    bExists = RegDBGetKeyValue(hRoot, szKey, szName, szValue,
                                               ARRAYSIZE(szValue)) == ERROR_SUCCESS;
                }
            }
            EvaluateExistence(fields, bComplete, TRUE, bExists, szLabel);
            break;
        }
        case IF_PATH:
        case IF_MODULE: {
            WCHAR szPath[PATH_CCH];
            bComplete = fields.NextExpanded(szPath, ARRAYSIZE(szPath));
            BOOL bExists = FALSE;
            if (bComplete && fields.Valid())
                bExists = kind == IF_MODULE ? FindModule(szPath) : PathExists(szPath);
            EvaluateExistence(fields, bComplete, FALSE, bExists, szLabel);
            break;
        }
        case IF_INIT:
            break;
        }
    }

    AddLabel(run, szLabel);
    if (ScriptCompareNoCase(szToken, L"<INIT>") == 0)
        run.szCondition[0] = 0;
    DebugTrace(L"ScriptIF()->Condition=%s", run.szCondition);
    return 0;
}

UINT ScriptExit(SCRIPTRUN& run, LPCWSTR szParams)
{
    CScriptFields fields(run, L"ScriptExit", szParams);
    WCHAR szSwitch[SCRIPT_TEXT_CCH];
    SCRIPTGUARD guard;
    fields.Next(szSwitch, ARRAYSIZE(szSwitch));
    fields.Guard(guard);
    DebugTrace(L"ScriptExit()->szCondIf=%s, g_szCondition=%s", guard.szCondIf, run.szCondition);
    TrimBlanks(szSwitch);
    if (!fields.Valid() || !ScriptGuard(run, guard) || wcscmp(szSwitch, L"1") != 0)
        return 0;
    InterlockedExchange(&g_bCancel, 1);
    // The last result becomes the exit code; text that is no number gives 0.
    DWORD dwExitCode = static_cast<DWORD>(ScriptNumber(run.ctx.szFunctionRetCode));
    SetExitCode(dwExitCode);
    DebugTraceA("ScriptExit(%d)->TRUE", static_cast<int>(dwExitCode));
    return 1;
}
