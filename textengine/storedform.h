#pragma once

#include "rope.h"

#include <QString>
#include <QStringDecoder>
#include <QStringView>

// The form the storage keeps text in: UTF-8 with every line break the pair CR LF. Text goes
// into it from UTF-8 or UTF-16 with breaks in any form, and comes out of it chunk by chunk.
namespace storedform {

// The n-th LF from, which must come before end (n >= 1).
const char *nthLineFeed(const char *from, const char *end, qint64 n);

// Appends UTF-8 text with its line breaks in CR LF form. endedWithCr carries a CR that ended
// the text before, whose LF may start this one.
void appendUtf8(rope::Builder &builder, const char *data, qint64 size, bool &endedWithCr);
void appendUtf16(rope::Builder &builder, QStringView text, bool &endedWithCr);
rope::NodePtr treeOf(QStringView text);

// Gives a line break in any form the CR LF form.
QString withCrLf(const QString &text);

// Every call decodes a part of the text, so a U+FEFF at the start of a part is a character like
// any other, not a byte-order mark to drop.
inline QStringDecoder utf8Decoder()
{
    return QStringDecoder(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless
                              | QStringDecoder::Flag::ConvertInitialBom);
}

} // namespace storedform
