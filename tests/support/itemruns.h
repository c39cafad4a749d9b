#pragma once

// The item reader (whole or in pieces) and the bulk scanner side by side, the scanner's stretches
// gathered as the text box keeps them, so that all compare whole.
#include "documentcodec.h"
#include "failure.h"
#include "itemreader.h"
#include "itemscanner.h"

#include <QStringDecoder>
#include <QStringList>
#include <QTest>

#include <algorithm>

struct Gathered
{
    QString text;
    qsizetype items = 0;
    qint64 characters = 0;
    int failure = 0; // the number that ended the reading; -1 for a stretch that is not UTF-8
    bool operator==(const Gathered &) const = default;
};

inline char *toString(const Gathered &g)
{
    return QTest::toString(QStringLiteral("%1 items, %2 characters, failure %3: %4")
                               .arg(g.items)
                               .arg(g.characters)
                               .arg(g.failure)
                               .arg(g.text.left(300)));
}

using ItemSink = std::function<void(const ItemRun &)>;

// What `read` hands its sink, and the number of the failure that ended it. A failure keeps the
// whole items; without one, every stretch must have ended an item.
inline Gathered gathered(const std::function<void(const ItemSink &)> &read)
{
    QByteArray all;
    qsizetype kept = 0; // the bytes up to the end of the last whole item
    Gathered result;
    bool invalid = false;
    try {
        read([&](const ItemRun &run) {
            if (run.restarted) {
                all.clear();
                kept = 0;
                result = Gathered();
                invalid = false;
            }
            invalid = invalid || !run.text.isValidUtf8();
            all += run.text;
            kept = run.items > 0 ? all.size() : kept;
            result.items += run.items;
            result.characters += run.characters;
        });
    } catch (const Failure &failure) {
        result.failure = failure.number();
    }
    result.text = QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom)
                      .decode(all.first(kept));
    result.failure = invalid || (result.failure == 0 && all.size() != kept) ? -1 : result.failure;
    return result;
}

inline Gathered fromItems(const QStringList &items, const QString &lineBreak, int failure)
{
    Gathered result;
    for (const QString &item : items) {
        result.text += item + lineBreak;
        result.characters += item.size();
    }
    result.items = items.size();
    result.failure = failure;
    return result;
}

// The file handed out at most readSize bytes per read.
inline ReadBytes readFrom(const QByteArray &file, qsizetype readSize = DocumentReadSize)
{
    return [file, readSize](qint64 offset, char *buffer, qsizetype size) {
        const QByteArray piece = file.mid(offset, std::min(size, readSize));
        std::copy(piece.begin(), piece.end(), buffer);
        return piece.size();
    };
}

struct ReadResult
{
    QStringList items;
    QList<qsizetype> positions; // after each item
    int failure = 0; // the number of the failure that ended the reading, 0 for none
    bool operator==(const ReadResult &) const = default;
};

// The file decoded whole, or in pieces of pieceSize bytes, and read item by item.
inline ReadResult readAll(const QByteArray &file, qsizetype pieceSize = 0)
{
    ReadResult result;
    ItemReader reader = pieceSize ? ItemReader(decodeDocument(readFrom(file), pieceSize))
                                  : ItemReader(decodeDocument(file));
    try {
        while (!reader.atEnd()) {
            result.items.append(reader.next());
            result.positions.append(reader.position());
        }
    } catch (const Failure &failure) {
        // A failure must leave the reader at its end.
        result.failure = reader.atEnd() ? failure.number() : -1;
    }
    return result;
}

// An uncommon line break, outside ASCII, so that its bytes and characters are counted apart.
inline const QString Pilcrow = QStringLiteral("\u00b6");

// The bulk reader over the file, handed out at most readSize bytes per read.
inline Gathered scanned(const QByteArray &file, qsizetype readSize = 1 << 20,
                        qsizetype runSize = ItemScanner::DefaultRunSize)
{
    return gathered([&](const ItemSink &sink) {
        scanDocument(readFrom(file, readSize), Pilcrow, sink, runSize);
    });
}

// What the bulk reader must give for the items the item reader read.
inline Gathered expected(const ReadResult &result)
{
    return fromItems(result.items, Pilcrow, result.failure);
}
