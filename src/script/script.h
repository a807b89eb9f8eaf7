// The install script: a section of a text file read into a list of command
// lines, then run one line at a time through the command table.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "script/fields.h"

// The most a script may hold: beyond either limit it is refused whole, so
// that reading and running it stay within seconds and memory.
enum : DWORD {
    SCRIPT_MAX_BYTES = 4 * 1024 * 1024,  // size of the script file
    SCRIPT_MAX_COMMANDS = 20000,         // command lines of the section
};

// One command line, as long as it is.
struct SCRIPTLINE {
    std::wstring strName;    // command name as written
    std::wstring strParams;  // everything after the first "="
};
typedef std::vector<SCRIPTLINE> SCRIPTLIST;

// Reads the section szHeader (for example "[Scripttrv]") of the script file
// into list; returns the number of command lines accepted. A script over
// SCRIPT_MAX_BYTES or SCRIPT_MAX_COMMANDS (or that memory can not hold) is
// refused: a trace line, an empty list, 0, and *pdwError (when given) 13;
// otherwise *pdwError is 0.
[[nodiscard]] UINT ReadScript(LPCWSTR szFile, LPCWSTR szHeader, SCRIPTLIST& list,
                              DWORD* pdwError = nullptr);
// Runs every line in order, with the path variables and the last result of
// ctx. 0 when the cancel flag stopped the run.
[[nodiscard]] BOOL ProcessScript(RUNCONTEXT& ctx, SCRIPTLIST list);
// 1 when szName is a command.
[[nodiscard]] BOOL IsScriptCommand(LPCWSTR szName);
// Runs the handler of command szName as a line of run; 0 when there is no
// such command. bProgress moves the progress bar to uIndex afterwards for
// the commands that do not drive it.
[[nodiscard]] BOOL ScriptCommand(SCRIPTRUN& run, LPCWSTR szName, LPCWSTR szParams, UINT uIndex,
                                 BOOL bProgress);
