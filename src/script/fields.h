// The fields of an install script's command line, as every command handler
// takes them: split at commas, path variables expanded, the guard fields at
// the end, and the last result that the next line can test.
#pragma once
#include <windows.h>
#include "common/capacity.h"
#include "common/pathguard.h"
#include "common/textcmp.h"
#include "state/runcontext.h"

enum : unsigned {
    SCRIPT_TEXT_CCH = 2048,      // command names, parameters, every non-path field
    SCRIPT_READ_CCH = 1024,      // one read of the script file: 1023 characters
    SCRIPT_RESULT_CCH = 64,      // the last result, <FUNCTIONRETCODE>
    SCRIPT_CONDITION_CCH = 100,  // the labels of IF: 99 characters
    SCRIPT_EMPTYVARS_CCH = 256,  // placeholders of one field that stood for nothing
};

// What the lines of one script share: the run's context, whose path
// variables the fields take and where the last result goes, and the labels
// that IF added since the last <INIT>, each once, no separators.
struct SCRIPTRUN {
    RUNCONTEXT& ctx;
    WCHAR szCondition[SCRIPT_CONDITION_CCH];
};

// Head receives the source up to the first chSep, tail the text after it.
// 0 (head = whole source, tail empty) when chSep does not occur.
BOOL SplitAtChar(LPCWSTR szSource, WCHAR chSep, LPWSTR szHead, size_t cchHead, LPWSTR szTail,
                 size_t cchTail);

// Writes the last result, <FUNCTIONRETCODE>, as "%d".
void SetScriptResult(SCRIPTRUN& run, int iResult);

// A number of a script field: decimal, blanks around it ignored; text that
// is no number gives 0.
long ScriptNumber(LPCWSTR szField);

// The three fields that end every command line except IF.
struct SCRIPTGUARD {
    WCHAR szOs[SCRIPT_TEXT_CCH];      // OS filter
    WCHAR szSP[SCRIPT_TEXT_CCH];      // service-pack filter
    WCHAR szCondIf[SCRIPT_TEXT_CCH];  // condition label
};

// A path field of a command line, expanded, with the placeholders in it
// that stood for nothing.
struct SCRIPTPATH {
    WCHAR sz[PATH_CCH];
    WCHAR szEmptyVars[SCRIPT_EMPTYVARS_CCH];
};

// The path guard of a line whose own guard passed: a path built on a
// placeholder that stood for nothing is refused, then GuardPath decides.
// A refusal traces "<handler>(<path>)->Refused: <reason>", and the line does
// nothing more: its last result stays 0.
[[nodiscard]] BOOL ScriptPathAllowed(LPCWSTR szHandler, const SCRIPTPATH& path, GUARDOP op,
                                     BOOL bRecursive = FALSE);

// Splits a handler's parameters into fields, one comma at a time. A field
// or remainder that does not fit its buffer makes the whole line invalid:
// a cut path could name another file, so such a line is refused.
class CScriptFields {
public:
    CScriptFields(SCRIPTRUN& run, LPCWSTR szHandler, LPCWSTR szParams);
    CScriptFields(const CScriptFields&) = delete;
    CScriptFields& operator=(const CScriptFields&) = delete;

    // Splits the next field off; FALSE when no comma was left (the field
    // then takes the whole rest and the rest is empty).
    BOOL Next(LPWSTR szField, size_t cchField);
    // Same, then expands the path variables of the field.
    BOOL NextExpanded(LPWSTR szField, size_t cchField);
    // Same for a path field, keeping the placeholders that stood for nothing.
    BOOL NextPath(SCRIPTPATH& path);
    // The same for any field: szEmptyVars receives those placeholders.
    BOOL NextTracked(LPWSTR szField, size_t cchField, LPWSTR szEmptyVars, size_t cchEmptyVars);
    // Expands the path variables of the whole rest.
    void ExpandRest();
    // The rest must fit cchMax characters with its terminator.
    void LimitRest(size_t cchMax);
    // Splits the OS filter, the SP filter and the condition label.
    void Guard(SCRIPTGUARD& guard);
    LPCWSTR Rest() const { return m_szRest; }
    // Expands the path variables of a field the handler holds.
    void Expand(LPWSTR sz, size_t cch, LPWSTR szEmptyVars = nullptr, size_t cchEmptyVars = 0);
    // Marks the line as not fitting.
    void Refuse() { m_bOverflow = TRUE; }
    // FALSE (logged once) when something did not fit.
    [[nodiscard]] BOOL Valid();
    // The script the line belongs to.
    SCRIPTRUN& Run() const { return m_run; }

private:
    SCRIPTRUN& m_run;
    LPCWSTR m_szHandler;
    WCHAR m_szRest[SCRIPT_TEXT_CCH];
    BOOL m_bOverflow;
    BOOL m_bLogged;
};
