#pragma once

#include <cmath>

// Window geometry is given in twips (1440 per inch). The program works at 96 dpi,
// so one pixel is 15 twips; every conversion goes through here.
namespace Twips {

constexpr int PerPixel = 15;

constexpr int toPixels(int twips)
{
    return twips >= 0 ? (twips + PerPixel / 2) / PerPixel : -((-twips + PerPixel / 2) / PerPixel);
}

constexpr int fromPixels(int pixels)
{
    return pixels * PerPixel;
}

} // namespace Twips
