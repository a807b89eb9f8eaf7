// Sends trace lines through both trace entry points, for the tests of the
// trace monitor: tracesend [wide-text] [ansi-text] [count]
#include <windows.h>
#include <stdlib.h>
#include "common/trace.h"

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* wide = argc > 1 ? argv[1] : L"hello from DebugTrace";
    char ansi[256] = "hello from DebugTraceA";
    if (argc > 2)
        WideCharToMultiByte(CP_ACP, 0, argv[2], -1, ansi, sizeof(ansi), nullptr, nullptr);
    int count = argc > 3 ? _wtoi(argv[3]) : 1;
    for (int i = 0; i < count; ++i) {
        DebugTrace(L"tracesend()->%s (%d)", wide, i);
        DebugTraceA("tracesend()->%s (%d)", ansi, i);
    }
    return 0;
}
