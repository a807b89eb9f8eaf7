#include "support/testrun.h"

RUNCONTEXT& TestRun()
{
    static RUNCONTEXT ctx;
    return ctx;
}
