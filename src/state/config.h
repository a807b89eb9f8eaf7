// The project configuration: defaults and the INI reader.
#pragma once
#include <windows.h>
#include "state/runcontext.h"

enum : unsigned {
    TOTFILESIZE_CCH = 260,         // [Runtime] TotFilesSize read as text
};

// Zero-fills the configuration of ctx, sets its defaults and logs them.
void InitProjectInfo(RUNCONTEXT& ctx);

// Overlays the configuration file on the defaults of ctx, reads the language list
// and chooses the language (wLangParam: the one -LANG: asks for, 0 for
// none). 0 when the file does not exist, 1 after reading.
[[nodiscard]] BOOL ReadConfigFile(RUNCONTEXT& ctx, LPCWSTR szConfigFile, WORD wLangParam);
