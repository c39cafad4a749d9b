#pragma once

#include <QWidget>
#include <QtMath>

// Twips are 1/1440 inch; the screen's logical DPI says how many make a pixel.
namespace Twips {

inline double perPixelX(const QWidget *widget)
{
    return 1440.0 / widget->logicalDpiX();
}

inline double perPixelY(const QWidget *widget)
{
    return 1440.0 / widget->logicalDpiY();
}

inline int toPixelsX(const QWidget *widget, int twips)
{
    return qRound(twips / perPixelX(widget));
}

inline int toPixelsY(const QWidget *widget, int twips)
{
    return qRound(twips / perPixelY(widget));
}

inline int fromPixelsX(const QWidget *widget, int pixels)
{
    return qRound(pixels * perPixelX(widget));
}

inline int fromPixelsY(const QWidget *widget, int pixels)
{
    return qRound(pixels * perPixelY(widget));
}

} // namespace Twips
