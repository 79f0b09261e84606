#pragma once

#include <QRect>
#include <QSize>
#include <QString>
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

// A control of a window's design: its name (also its objectName) and its place in twips.
struct Placement
{
    const char* name;
    QRect rect;
};

// Names and places a control as its window's design says.
template <class W> W* place(W* widget, const Placement& placement)
{
    widget->setObjectName(QString::fromLatin1(placement.name));
    widget->setGeometry(placement.rect);
    return widget;
}
