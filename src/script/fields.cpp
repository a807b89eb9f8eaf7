#include "script/fields.h"
#include <stdlib.h>
#include "common/boundedtext.h"
#include "common/trace.h"
#include "state/pathvar.h"
#include "state/state.h"

BOOL SplitAtChar(LPCWSTR szSource, WCHAR chSep, LPWSTR szHead, size_t cchHead, LPWSTR szTail,
                 size_t cchTail)
{
    // A head that does not fit is refused by the caller.
    (void)StringCchCopyW(szHead, cchHead, szSource);
    if (cchTail)
        szTail[0] = 0;
    LPWSTR pSep = wcschr(szHead, chSep);
    if (!pSep)
        return FALSE;
    // Cut the head at the separator and hand the text after it to the tail,
    // taken from the source so that a head cut short loses nothing.
    *pSep = 0;
    // Same capacity.
    (void)StringCchCopyW(szTail, cchTail, szSource + (pSep - szHead) + 1);
    return TRUE;
}

void SetScriptResult(SCRIPTRUN& run, int iResult)
{
    // A number fits.
    (void)StringCchPrintfW(run.ctx.szFunctionRetCode, ARRAYSIZE(run.ctx.szFunctionRetCode), L"%d",
                           iResult);
}

long ScriptNumber(LPCWSTR szField)
{
    // wcstol skips the blanks before the digits and stops at those after.
    return szField ? wcstol(szField, nullptr, 10) : 0;
}

CScriptFields::CScriptFields(SCRIPTRUN& run, LPCWSTR szHandler, LPCWSTR szParams)
    : m_run(run), m_szHandler(szHandler), m_bOverflow(FALSE), m_bLogged(FALSE)
{
    if (FAILED(StringCchCopyW(m_szRest, ARRAYSIZE(m_szRest), szParams ? szParams : L"")))
        m_bOverflow = TRUE;
}

BOOL CScriptFields::Next(LPWSTR szField, size_t cchField)
{
    size_t cchHead = wcscspn(m_szRest, L",");
    if (cchHead >= cchField)
        m_bOverflow = TRUE;
    WCHAR szTail[SCRIPT_TEXT_CCH];
    BOOL bSplit = SplitAtChar(m_szRest, L',', szField, cchField, szTail, ARRAYSIZE(szTail));
    // Same capacity.
    (void)StringCchCopyW(m_szRest, ARRAYSIZE(m_szRest), szTail);
    return bSplit;
}

void CScriptFields::Expand(LPWSTR sz, size_t cch, LPWSTR szEmptyVars, size_t cchEmptyVars)
{
    WCHAR szWork[EXPAND_WORK_CCH];
    if (FAILED(StringCchCopyW(szWork, ARRAYSIZE(szWork), sz))) {
        m_bOverflow = TRUE;
        return;
    }
    ExpandPathVar(m_run.ctx, szWork, ARRAYSIZE(szWork), szEmptyVars, cchEmptyVars);
    if (FAILED(StringCchCopyW(sz, cch, szWork)))
        m_bOverflow = TRUE;
}

BOOL CScriptFields::NextExpanded(LPWSTR szField, size_t cchField)
{
    BOOL bSplit = Next(szField, cchField);
    Expand(szField, cchField);
    return bSplit;
}

BOOL CScriptFields::NextPath(SCRIPTPATH& path)
{
    return NextTracked(path.sz, ARRAYSIZE(path.sz), path.szEmptyVars, ARRAYSIZE(path.szEmptyVars));
}

BOOL CScriptFields::NextTracked(LPWSTR szField, size_t cchField, LPWSTR szEmptyVars,
                                size_t cchEmptyVars)
{
    BOOL bSplit = Next(szField, cchField);
    Expand(szField, cchField, szEmptyVars, cchEmptyVars);
    return bSplit;
}

void CScriptFields::ExpandRest()
{
    Expand(m_szRest, ARRAYSIZE(m_szRest));
}

void CScriptFields::LimitRest(size_t cchMax)
{
    if (wcslen(m_szRest) >= cchMax)
        m_bOverflow = TRUE;
}

void CScriptFields::Guard(SCRIPTGUARD& guard)
{
    Next(guard.szOs, ARRAYSIZE(guard.szOs));
    Next(guard.szSP, ARRAYSIZE(guard.szSP));
    Next(guard.szCondIf, ARRAYSIZE(guard.szCondIf));
}

BOOL CScriptFields::Valid()
{
    if (m_bOverflow && !m_bLogged) {
        m_bLogged = TRUE;
        DebugTrace(L"%s()->Parameter too long, line refused!", m_szHandler);
    }
    return !m_bOverflow;
}

BOOL ScriptPathAllowed(LPCWSTR szHandler, const SCRIPTPATH& path, GUARDOP op, BOOL bRecursive)
{
    WCHAR szFull[PATH_CCH];
    WCHAR szReason[GUARD_REASON_CCH];
    if (path.szEmptyVars[0])
        // A reason is only shown.
        (void)StringCchPrintfW(szReason, ARRAYSIZE(szReason), L"%s stood for nothing",
                               path.szEmptyVars);
    else if (GuardPath(path.sz, op, bRecursive, szFull, szReason, ARRAYSIZE(szReason)))
        return TRUE;
    DebugTrace(L"%s(%s)->Refused: %s", szHandler, path.sz, szReason);
    return FALSE;
}
