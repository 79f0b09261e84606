#pragma once

#include <QRect>
#include <QSize>
#include <cmath>

// Window geometry is designed in twips: 1/1440 inch, 15 to a pixel at 96 dpi.
inline constexpr int TwipsPerPixel = 15;

inline int twipsToPixels(int twips)
{
    return int(std::lround(double(twips) / TwipsPerPixel));
}

inline int pixelsToTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}

inline QRect twipRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

inline QSize twipSize(int width, int height)
{
    return QSize(twipsToPixels(width), twipsToPixels(height));
}
