#pragma once

#include <cmath>

// Rounds to the nearest integer with ties to the even neighbour, the rounding every
// on-screen percentage and level of the program uses (2.5 -> 2, 3.5 -> 4).
inline int RoundHalfEven(double value)
{
    const double down = std::floor(value);
    const double fraction = value - down;
    if (fraction > 0.5)
        return static_cast<int>(down) + 1;
    if (fraction < 0.5)
        return static_cast<int>(down);
    const int even = static_cast<int>(down);
    return even % 2 == 0 ? even : even + 1;
}
