// The run context of a test program: one, as RunLauncher keeps one for a
// run. Tests fill what they need and hand it to the code under test.
#pragma once
#include "state/runcontext.h"

RUNCONTEXT& TestRun();
