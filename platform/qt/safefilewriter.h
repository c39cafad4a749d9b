#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QSaveFile;
class SaveIntent;
class StateFolder;

// Replaces a file's contents so that, until commit() returns, the file on disk is exactly what
// it was: the new bytes go to a temporary file beside the target, which is checked at every
// write, synced, given the old file's owner, group and mode, and only then renamed over it.
// A symbolic link stays a link; the file it leads to is the one replaced.
//
// Where a replacement would not be the same file (more links than one, an owner or group the
// new file cannot be given) or cannot be made (no temporary file, a refused rename) but the file
// itself is writable, it is rewritten over itself at commit instead: its old contents are first
// copied to a backup beside it (NAME~) or, where that cannot be made, in the user's cache folder,
// and synced; the backup goes once the new contents are synced. A backup is written under a
// temporary name and gets its own only once whole and synced. A crash at any moment leaves the
// old file, the new one, or the backup whole. When the rewrite fails, the old bytes are put back,
// or the failure names the backup that holds them.
//
// Names are reached from the folder's descriptor, taken once at open(): a path as long as the
// system allows can be saved, and the folder cannot be swapped under the save. Each step is
// recorded beforehand in the state folder, when one is given (SaveIntent), so that a save cut
// short by the end of the program is put right at the next start (repairInterruptedSaves).
//
// Every failure throws a Failure naming the path. Destroying a writer that was not committed
// discards what was written.
class SafeFileWriter
{
public:
    explicit SafeFileWriter(const QString &path, StateFolder *intents = nullptr);
    virtual ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter &) = delete;
    SafeFileWriter &operator=(const SafeFileWriter &) = delete;

    void open();
    void write(QByteArrayView bytes);
    void commit();
    // Drops what was written; the file on disk is left as it was.
    void cancel();

    // True when the file is rewritten over itself rather than replaced.
    bool inPlace() const { return m_inPlace; }

protected:
    // Gives the replacement the old file's owner and group; false where that is refused.
    virtual bool carryOwnership(int fd, unsigned owner, unsigned group);
    // Called before each step of the save is recorded, and again once it is, before it is taken.
    virtual void stepRecorded() { }

private:
    void openTemporary();
    void dropTemporary();
    void commitTemporary();
    void commitInPlace(int source);

    QString m_path; // as the user chose it, for messages
    QString m_target; // the file that is replaced: m_path with any links followed
    QByteArray m_folderPath; // of m_target
    QByteArray m_name; // of m_target in its folder
    int m_folder = -1;
    StateFolder *m_intents;
    std::unique_ptr<SaveIntent> m_intent;
    bool m_existed = false;
    unsigned m_mode = 0;
    unsigned m_owner = 0;
    unsigned m_group = 0;
    bool m_inPlace = false;
    bool m_open = false;
    int m_temporaryFd = -1;
    QByteArray m_temporaryName;
    std::unique_ptr<QSaveFile> m_temporary; // where no descriptors are at hand
    QByteArray m_pending; // the new contents, where no temporary file could be made
};
