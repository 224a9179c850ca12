// Twips (1/1440 inch) are the unit of the window geometry the program was
// laid out in; Qt works in device-independent pixels.
#pragma once

#include <cmath>

namespace Inkwell {

inline int twipsToPixels(double twips, double logicalDpi)
{
    return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}

inline double pixelsToTwips(int pixels, double logicalDpi)
{
    return pixels * 1440.0 / logicalDpi;
}

} // namespace Inkwell
