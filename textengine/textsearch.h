#pragma once

#include "bytesource.h"

#include <QRegularExpression>
#include <QString>

#include <functional>
#include <memory>

class TextBuffer;

// Finds a pattern in a text held as UTF-8 chunks, without copying the whole text. Plain patterns
// are matched on the bytes; regular expressions (and case-blind patterns beyond ASCII) on
// decoded windows of whole lines, where the line break reads as "\n". Ranges are in bytes.
class TextSearch
{
public:
    struct Query
    {
        QString pattern;
        bool matchCase = false;
        bool wholeWords = false;
        bool regularExpression = false;
    };

    struct Range
    {
        qint64 start = -1;
        qint64 end = -1;
        bool found() const { return start >= 0; }
        bool operator==(const Range &) const = default;
    };

    enum class Direction { Forward, Backward };
    // Asked between slices of the work with how many of the bytes to read it has read; returning
    // false stops it.
    using KeepGoing = std::function<bool(qint64 done, qint64 total)>;
    // Called for each match in order with its replacement text; returning false stops.
    using MatchVisitor = std::function<bool(Range match, const QString &replacement)>;

    struct Result
    {
        Range match;
        bool stopped = false;
    };

    explicit TextSearch(const Query &query);

    bool isValid() const { return m_valid; }

    // The match after the selection (the first one starting at or after its end that is not the
    // selection itself) or before it (the last one starting before its start); with wrap, the
    // search goes on from the other end of the text.
    Result findNext(const ByteSource &text, Range selection, Direction direction, bool wrap,
                    const KeepGoing &keepGoing = {}) const;
    // Whether the range is a match itself, and its replacement ("\1" and the like expanded for a
    // regular expression; line breaks in the CR LF form).
    bool matchesExactly(const ByteSource &text, Range range, const QString &replaceWith,
                        QString *replacement) const;
    // Every match of the whole text, in order and without overlaps. False when stopped.
    bool findAll(const ByteSource &text, const QString &replaceWith, const MatchVisitor &visit,
                 const KeepGoing &keepGoing = {}) const;

    // How much text one slice of work covers between calls of KeepGoing; within a slice, the
    // matches found ask it too, once this much time has passed since it was last asked.
    static constexpr qint64 SliceBytes = 8 * 1024 * 1024;
    static constexpr qint64 PollMilliseconds = 20;

private:
    enum class Kind { Bytes, FoldedBytes, Expression };

    // Matches starting in [from, until), in order and without overlaps (a match may run past
    // until); replacements only when replaceWith is given. False when onMatch stopped it.
    using OnMatch = std::function<bool(Range match, const QString &replacement)>;
    bool scan(const ByteSource &text, qint64 from, qint64 until, const QString *replaceWith,
              const OnMatch &onMatch) const;
    bool scanBytes(const ByteSource &text, qint64 from, qint64 until, const QString *replaceWith,
                   const OnMatch &onMatch) const;
    bool scanExpression(const ByteSource &text, qint64 from, qint64 until,
                        const QString *replaceWith, const OnMatch &onMatch) const;
    bool wholeWordAt(const ByteSource &text, Range range) const;
    qint64 locate(QByteArrayView haystack, qint64 from) const;
    QString plainReplacement(const QString &replaceWith) const;

    Query m_query;
    Kind m_kind = Kind::Bytes;
    bool m_valid = true;
    QByteArray m_needle; // the pattern as UTF-8, folded to lower case for FoldedBytes
    unsigned char m_fold[256];
    QRegularExpression m_expression;
};

// The storage's text as the search reads it.
std::unique_ptr<ByteSource> searchableBytes(const TextBuffer &buffer);
