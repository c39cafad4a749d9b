#pragma once

#include <QString>
#include <QtGlobal>

// Tells one version of a file's contents from the next: its size and modification time.
struct FileStamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    bool operator==(const FileStamp &) const = default;
};

// Files read and written item by item under small numbers, as the document format needs.
// Every failure throws a Failure. An operation that fails leaves its number free, and a failed
// output leaves whatever the file held before untouched.
class SequentialFiles
{
public:
    virtual ~SequentialFiles() = default;

    // The lowest number not in use; fails with TooManyFiles when none is left.
    virtual qint16 freeFile() = 0;
    virtual void openForInput(const QString &path, qint16 number) = 0;
    // Creates the file, or replaces its contents when it exists.
    virtual void openForOutput(const QString &path, qint16 number) = 0;
    virtual bool atEnd(qint16 number) = 0;
    // The next item, its delimiter consumed and its enclosing marks removed.
    virtual QString readItem(qint16 number) = 0;
    // Writes the text as one item followed by a line end.
    virtual void writeItem(qint16 number, const QString &text) = 0;
    // For output, this is where the written data reaches the disk; a failure here means the
    // previous contents of the file are still in place.
    virtual void close(qint16 number) = 0;
    virtual bool isOpen(qint16 number) const = 0;
    // The file as it is now, its links followed; not existing when it cannot be found.
    virtual FileStamp fileStamp(const QString &path) const = 0;
};
