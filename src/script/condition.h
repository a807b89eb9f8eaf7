// Script conditions: IF appends labels to the script's condition, every
// other command ends with a guard (OS filter, SP filter, condition label),
// EXIT stops the run.
#pragma once
#include <windows.h>
#include "script/fields.h"

// The three tests of a guard, for handlers that log between them.
[[nodiscard]] BOOL GuardOsPasses(const SCRIPTGUARD& guard);
[[nodiscard]] BOOL GuardLabelPasses(const SCRIPTRUN& run, const SCRIPTGUARD& guard);
[[nodiscard]] BOOL GuardSpPasses(const SCRIPTGUARD& guard);
// All three.
[[nodiscard]] BOOL ScriptGuard(const SCRIPTRUN& run, const SCRIPTGUARD& guard);
// The end of a command line: splits off its guard and decides. TRUE when
// every field fit and the guard lets the line run.
[[nodiscard]] BOOL ScriptLineRuns(CScriptFields& fields);

UINT ScriptIF(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptExit(SCRIPTRUN& run, LPCWSTR szParams);
