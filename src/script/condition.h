// Script conditions: IF appends labels to g_szCondition, every other command
// ends with a guard (OS filter, SP filter, condition label), EXIT stops the run.
#pragma once
#include <windows.h>
#include "script/fields.h"

// Labels added by IF since the last <INIT>, each once, no separators.
extern WCHAR g_szCondition[SCRIPT_CONDITION_CCH];

// The three tests of a guard, for handlers that log between them.
BOOL GuardOsPasses(const SCRIPTGUARD& guard);
BOOL GuardLabelPasses(const SCRIPTGUARD& guard);
BOOL GuardSpPasses(const SCRIPTGUARD& guard);
// All three.
BOOL ScriptGuard(const SCRIPTGUARD& guard);
// The end of a command line: splits off its guard and decides. TRUE when
// every field fit and the guard lets the line run.
BOOL ScriptLineRuns(CScriptFields& fields);

UINT ScriptIF(LPCWSTR szParams);
UINT ScriptExit(LPCWSTR szParams);
