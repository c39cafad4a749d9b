#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class StateFile;
class StateFolder;

// What a save is about to do, kept in the state folder: each step that makes a name is recorded,
// and synced, before the save makes it, and the record goes when the save ends (done, failed
// or cancelled). Only a save cut short by the end of the program leaves it, for the next start
// to put the file right (see saverepair.h). Paths are bytes as the system takes them.
//
// Where the state folder cannot be written, the save goes on unrecorded: a record is a help
// after a crash, never a reason to refuse a save.
class SaveIntent
{
public:
    static constexpr QLatin1StringView Prefix { "save-" };

    // Starts the record of a save of the file `name` in the folder `folder` (absolute);
    // `recorded` is called before each step is recorded and once it is on the disk.
    SaveIntent(StateFolder *state, const QByteArray &folder, const QByteArray &name,
               std::function<void()> recorded = {});
    ~SaveIntent();
    SaveIntent(const SaveIntent &) = delete;
    SaveIntent &operator=(const SaveIntent &) = delete;

    // The temporary file, in the target's folder, that is about to take the new contents.
    void temporary(const QByteArray &name);
    // The temporary file holds the whole new contents, synced.
    void newContentsWhole(qint64 size);
    // The temporary name a copy of the old contents is about to be written under.
    void backupTemporary(const QByteArray &folder, const QByteArray &name);
    // The final name that whole, synced copy is about to get, with the identities of the copy
    // and of the file it copies (device, inode), so that nothing else is ever taken for them.
    void backup(const QByteArray &folder, const QByteArray &name, quint64 device, quint64 inode,
                quint64 targetDevice, quint64 targetInode);
    // The file holds the whole new contents, synced: the copy is no longer needed.
    void rewritten();

private:
    void note(const QByteArray &line, bool sync = true);

    StateFolder *m_state;
    std::function<void()> m_recorded;
    std::unique_ptr<StateFile> m_file;
    bool m_unrecorded = false;
    QString m_name;
    QByteArray m_pending; // lines not written yet: the first ones go with the temporary name
};

// A record read back: the last line of each kind. It is input from a file, so every field is
// checked; a record without its target is none.
struct SaveRecord
{
    QByteArray folder; // absolute
    QByteArray name;
    QByteArray temporary; // in `folder`, or empty
    qint64 newSize = -1; // the temporary file was whole at this size
    QByteArray backupTemporaryFolder;
    QByteArray backupTemporary;
    QByteArray backupFolder;
    QByteArray backupName;
    quint64 backupDevice = 0;
    quint64 backupInode = 0;
    quint64 targetDevice = 0;
    quint64 targetInode = 0;
    bool rewritten = false;

    static std::optional<SaveRecord> parse(QByteArrayView bytes);
};
