#pragma once

#include "documentcodec.h"
#include "sequentialfiles.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <functional>

// Splits the text of a document file, as UTF-8, into items by the rules of ItemReader, many bytes
// at a time, and hands them on as one text without a string per item: each item followed by the
// line break, in stretches (ItemRun) of about runSize bytes, cut only at character boundaries.
class ItemScanner
{
public:
    using Sink = std::function<void(const ItemRun &)>;
    static constexpr qsizetype DefaultRunSize = DocumentReadSize / 4;

    ItemScanner(QStringView lineBreak, Sink sink, qsizetype runSize = DefaultRunSize);

    // The next bytes of the file, cut anywhere. UTF-8 must be valid once the pieces are joined.
    void scan(QByteArrayView bytes);
    // The end of the file: ends the last item and hands over what is left. Throws a Failure
    // numbered InputPastEndOfFile inside a quoted item, once the items before it are handed over.
    void finish();

private:
    enum class State { ItemStart, Unquoted, Quoted, QuotedMark, AfterCr };

    const char *scanUnquoted(const char *from, const char *end);
    const char *scanUnquotedFast(const char *from, const char *end);
    const char *endUnquoted(const char *delimiter, const char *end);
    const char *scanQuoted(const char *from, const char *end);
    void append(const char *bytes, qsizetype count);
    void appendLong(const char *bytes, qsizetype count);
    void endItem();
    void handOver(qsizetype size, qsizetype items);
    void handOverPart();
    static qint64 characters(QByteArrayView bytes);

    QByteArray m_lineBreak;
    quint32 m_lineBreakWord = 0; // its bytes, when it has at most four
    qsizetype m_lineBreakCharacters;
    Sink m_sink;
    State m_state = State::ItemStart;

    qsizetype m_runSize;
    QByteArray m_out; // m_runSize bytes and room to spare
    qsizetype m_used = 0;
    qsizetype m_itemsEnd = 0; // after the line break of the last item in m_out
    qsizetype m_items = 0; // items in m_out
    qint64 m_partCharacters = 0; // of the item under way, in stretches handed over already
};

// Reads a whole document file through read and hands its items to the sink, as ItemScanner does,
// and returns the file's encoding. The file is read once as its first bytes suggest; one that
// turns out to be Windows-1252 after text that reads otherwise in it is read again, after a run
// marked restarted (readDocumentText). Throws a Failure when the file cannot be read and when it
// ends inside a quoted item.
TextEncoding scanDocument(const ReadBytes &read, QStringView lineBreak,
                          const ItemScanner::Sink &sink,
                          qsizetype runSize = ItemScanner::DefaultRunSize);
