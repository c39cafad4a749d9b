#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

// What the window shows of a widget once the repaint it asked for is done, as the event loop would
// do it next, read back from the window's backing store (the offscreen platform's screen grab);
// and the widget drawn whole, to compare with it.
inline QImage shownImage(QWidget *widget)
{
    QWidget *window = widget->window();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &request);
    const QRect area(widget->mapTo(window, QPoint()), widget->size());
    return window->screen()
        ->grabWindow(window->winId())
        .copy(area)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

inline QImage drawnWholeImage(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A text layout drawn a few rows at a time may smooth the edge of a glyph of another row a pixel
// otherwise than one drawn whole, so mixed scripts are compared by how many pixels differ.
inline qsizetype differingPixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return qsizetype(a.width()) * a.height();
    qsizetype count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *left = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *right = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            count += left[x] != right[x];
    }
    return count;
}
