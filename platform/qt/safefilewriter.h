#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QSaveFile;

// Replaces a file's contents so that, until commit() returns, the file on disk is exactly what
// it was: the new bytes go to a temporary file beside the target, which is checked at every
// write, synced, given the old file's mode, owner and group, and only then renamed over it.
// A symbolic link stays a link; the file it leads to is the one replaced.
//
// Where the folder cannot take a temporary file but the file itself is writable, the bytes are
// gathered and written over the file at commit, after the room for them has been reserved; if
// that still fails, the old bytes are written back.
//
// Every failure throws a Failure naming the path. Destroying a writer that was not committed
// discards what was written.
class SafeFileWriter
{
public:
    explicit SafeFileWriter(const QString &path);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter &) = delete;
    SafeFileWriter &operator=(const SafeFileWriter &) = delete;

    void open();
    void write(QByteArrayView bytes);
    void commit();
    // Drops what was written; the file on disk is left as it was.
    void cancel();

    // True when the folder could not take a temporary file and the file is replaced in place.
    bool inPlace() const { return m_inPlace; }

private:
    void openTemporary();
    void commitTemporary();
    void commitInPlace();
    void keepAttributes(int fd);

    QString m_path; // as the user chose it, for messages
    QString m_target; // the file that is replaced: m_path with any links followed
    bool m_existed = false;
    unsigned m_mode = 0;
    unsigned m_owner = 0;
    unsigned m_group = 0;
    bool m_inPlace = false;
    bool m_open = false;
    std::unique_ptr<QSaveFile> m_temporary;
    QByteArray m_pending; // the new contents, when written in place
};
