#pragma once

#include "text.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

// How a file stores its characters as bytes. The byte-order marks are part of the form: a file
// read with one is written back with it.
enum class TextEncoding { Utf8, Utf8WithBom, Utf16LE, Utf16BE, Windows1252 };

// The name the user is shown.
inline QString encodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return QStringLiteral("UTF-8");
    case TextEncoding::Utf8WithBom:
        return QStringLiteral("UTF-8 with BOM");
    case TextEncoding::Utf16LE:
        return QStringLiteral("UTF-16 LE");
    case TextEncoding::Utf16BE:
        return QStringLiteral("UTF-16 BE");
    case TextEncoding::Windows1252:
        return QStringLiteral("Windows-1252");
    }
    return QString();
}

// Tells one version of a file's contents from the next: which file it is (device and inode), its
// size, and its modification and change times. A user can set the first time back but not the
// second, so bytes replaced without a change of size or modification time still show.
struct FileStamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    qint64 changed = 0; // of the file's status, in nanoseconds since the epoch
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileStamp &) const = default;
};

// A stretch of a file's items read in bulk: their text in UTF-8, each item followed by the line
// break the reader was given. A stretch either ends right after the line break of its last item or
// holds no item end at all (a part of a long item).
struct ItemRun
{
    QByteArrayView text;
    qsizetype items = 0; // items that end in this stretch
    // Characters of those items (their parts in earlier stretches included), line breaks not.
    qint64 characters = 0;
    // The stretches handed over before this one are void: the file turned out to be in another
    // encoding than they were read in, and is read again from its start.
    bool restarted = false;
};

// Files read and written item by item under small numbers, as the document format needs.
// Every failure throws a Failure. An operation that fails leaves its number free, and a failed
// output leaves whatever the file held before untouched, or its description says where those
// contents are kept.
class SequentialFiles
{
public:
    virtual ~SequentialFiles() = default;

    // The lowest number not in use; fails with TooManyFiles when none is left.
    virtual qint16 freeFile() = 0;
    virtual void openForInput(const QString &path, qint16 number) = 0;
    // Creates the file, or replaces its contents when it exists; its items are written in the
    // encoding, after the encoding's byte-order mark if it has one.
    virtual void openForOutput(const QString &path, qint16 number, TextEncoding encoding) = 0;
    void openForOutput(const QString &path, qint16 number)
    {
        openForOutput(path, number, TextEncoding::Utf8);
    }
    // For input, how the file's text is stored, as its bytes tell; for output, how it is written.
    virtual TextEncoding encoding(qint16 number) = 0;
    // Whether the encoding can store every character of the text. Writing a character it cannot
    // store fails.
    virtual bool canStore(TextEncoding encoding, const TextSource &text) const = 0;
    virtual bool atEnd(qint16 number) = 0;
    // The next item, its delimiter consumed and its enclosing marks removed.
    virtual QString readItem(qint16 number) = 0;
    // Every item left, in order, handed to the sink in stretches as the file is read; the file is
    // at its end afterwards. On a failure the stretches already handed over stay handed over.
    virtual void readAllItems(qint16 number, const QString &lineBreak,
                              const std::function<void(const ItemRun &)> &sink)
        = 0;
    // Writes the text as one item followed by a line end, encoding it piece by piece as the
    // source hands it over.
    virtual void writeItem(qint16 number, const TextSource &text) = 0;
    void writeItem(qint16 number, QStringView text) { writeItem(number, wholeText(text)); }
    // For output, this is where the written data reaches the disk; after a failure here the
    // previous contents of the file are still in place unless the failure says otherwise.
    virtual void close(qint16 number) = 0;
    virtual bool isOpen(qint16 number) const = 0;
    // The file as it is now, its links followed; not existing when it cannot be found.
    virtual FileStamp fileStamp(const QString &path) const = 0;
    // Puts right the files of saves that were cut short when a program ended in the middle of
    // one (killed, a crash, a power cut), once, at start-up: a whole copy of the old contents
    // beside a damaged file is put back, new contents written whole are kept beside the file,
    // partial temporary files go. Gives a text for the user for each save found, shown nowhere
    // here; none when there was none. Saves of programs still running are left alone.
    virtual QStringList recoverInterruptedSaves() = 0;
};
