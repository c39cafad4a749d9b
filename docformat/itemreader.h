#pragma once

#include <QString>

// Splits decoded document text into items, front to back, each character looked at once.
//
// An item ends at a comma, at a line end (CR LF, CR or LF) or at the end of the text; the
// delimiter is consumed with it, and a line with nothing on it is one empty item. An item whose
// first character is a mark is quoted: inside it, commas and line ends belong to the item, two
// marks in a row are one mark, and a mark closes the item only when a delimiter or the end of the
// text follows; any other mark is kept as it is. Outside quotes every character is kept, spaces,
// tabs and marks included.
class ItemReader
{
public:
    ItemReader() = default;
    explicit ItemReader(QString text);

    bool atEnd() const { return m_position >= m_text.size(); }

    // The next item. Throws a Failure numbered InputPastEndOfFile when there is none, or when
    // the text ends inside a quoted item; the reader is at its end afterwards.
    QString next();

    // Where the next item starts, in characters from the start of the text.
    qsizetype position() const { return m_position; }

private:
    QString readQuoted();
    QString readUnquoted();
    void skipDelimiterAt(qsizetype index);
    QString takeWholeText(qsizetype closingMark);

    QString m_text;
    qsizetype m_position = 0;
};
