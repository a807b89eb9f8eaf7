// Arithmetic on sizes and counts read from files: 64-bit, and sums that
// stop at the largest value instead of wrapping round to a small one.
#pragma once
#include <windows.h>

const ULONGLONG SIZE_SATURATED = ~0ull;

inline ULONGLONG SatAdd(ULONGLONG ullA, ULONGLONG ullB)
{
    return ullA > SIZE_SATURATED - ullB ? SIZE_SATURATED : ullA + ullB;
}

// ullValue * ullNum / ullDen, truncated, without an intermediate that
// wraps; saturates. ullDen must not be 0.
inline ULONGLONG SatMulDiv(ULONGLONG ullValue, ULONGLONG ullNum, ULONGLONG ullDen)
{
    ULONGLONG ullQuot = ullValue / ullDen;
    ULONGLONG ullRem = ullValue % ullDen;
    if (ullNum != 0 && ullQuot > SIZE_SATURATED / ullNum)
        return SIZE_SATURATED;
    // ullRem < ullDen: for the small factors used here the product fits.
    if (ullNum != 0 && ullRem > SIZE_SATURATED / ullNum)
        return SIZE_SATURATED;
    return SatAdd(ullQuot * ullNum, ullRem * ullNum / ullDen);
}
