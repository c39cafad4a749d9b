#pragma once

#include <QList>
#include <QString>

// Splits decoded document text into items, front to back, each character looked at once.
//
// An item ends at a comma, at a line end (CR LF, CR or LF) or at the end of the text; the
// delimiter is consumed with it, and a line with nothing on it is one empty item. An item whose
// first character is a mark is quoted: inside it, commas and line ends belong to the item, two
// marks in a row are one mark, and a mark closes the item only when a delimiter or the end of the
// text follows; any other mark is kept as it is. Outside quotes every character is kept, spaces,
// tabs and marks included.
//
// The text may come in pieces: items and delimiters read across them as if they were one text,
// and each piece is let go as soon as the reading has passed it, so that the items taken out and
// the text still to read together stay about the size of the text.
class ItemReader
{
public:
    ItemReader() = default;
    explicit ItemReader(QString text);
    explicit ItemReader(QList<QString> pieces);

    bool atEnd() const { return m_pieces.isEmpty(); }

    // The next item. Throws a Failure numbered InputPastEndOfFile when there is none, or when
    // the text ends inside a quoted item; the reader is at its end afterwards.
    QString next();

    // Where the next item starts, in characters from the start of the text.
    qsizetype position() const { return m_passed + m_index; }

private:
    QString readQuoted();
    QString readUnquoted();
    QChar current() const { return m_pieces.first().at(m_index); }
    void advance(qsizetype count);
    void releasePiece();
    void skipDelimiter();

    // Never holds an empty piece; m_index is always inside the first one.
    QList<QString> m_pieces;
    qsizetype m_index = 0;
    qsizetype m_passed = 0; // characters in the pieces let go
};
