// Entry point of every test program: the trace sink comes up before any
// trace call, the run's progress object is bound as in the launcher, then
// GoogleTest runs.
#include <gtest/gtest.h>
#include "support/tracesink.h"
#include "ui/progress.h"

int wmain(int argc, wchar_t** argv)
{
    tracesink::Start();
    SetProgressSink(&g_Progress);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    tracesink::Stop();
    return result;
}
