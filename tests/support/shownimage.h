#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

// What the window shows of a widget once the repaint it asked for is done, as the event loop would
// do it next, read back from the window's backing store (the offscreen platform's screen grab).
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

// The widget drawn anew, to compare with what the window shows. A colour nothing here draws with
// is changed first, so that no picture the widget kept of its screen applies; the repaint that
// asks for is done before returning, so that the next step repaints only what it changes.
inline QImage drawnWholeImage(QWidget *widget)
{
    QWidget *window = widget->window();
    QPalette colors = window->palette();
    const bool red = colors.color(QPalette::ToolTipBase) == Qt::red;
    colors.setColor(QPalette::ToolTipBase, red ? Qt::green : Qt::red);
    window->setPalette(colors);
    const QImage drawn = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &request);
    return drawn;
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
