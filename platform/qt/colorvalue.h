#pragma once

#include <QColor>

// Colours travel as 32-bit values with red in the low byte, then green, then blue.
namespace ColorValue {

inline QColor toColor(quint32 value)
{
    return QColor(int(value & 0xff), int((value >> 8) & 0xff), int((value >> 16) & 0xff));
}

inline quint32 fromColor(const QColor &color)
{
    return quint32(color.red()) | quint32(color.green()) << 8 | quint32(color.blue()) << 16;
}

} // namespace ColorValue
