// Entry point of every test program: the trace sink comes up before any
// trace call, then GoogleTest runs.
#include <gtest/gtest.h>
#include "support/tracesink.h"

int wmain(int argc, wchar_t** argv)
{
    tracesink::Start();
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    tracesink::Stop();
    return result;
}
