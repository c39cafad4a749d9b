#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

// A file of the state folder, open and locked for as long as this object lives: the lock tells
// the files of a running program from those a program left when it ended without cleaning up.
// Every failure throws a Failure.
class StateFile
{
public:
    virtual ~StateFile() = default;
    // All of the bytes, at the end of what was written so far.
    virtual void write(QByteArrayView bytes) = 0;
    // Writes over bytes already written (a length filled in once known).
    virtual void writeAt(qint64 offset, QByteArrayView bytes) = 0;
    // The data written so far is on the disk when this returns.
    virtual void sync() = 0;
    // Up to size bytes from the given offset; fewer only at the end of the file.
    virtual qint64 readAt(qint64 offset, char *data, qint64 size) = 0;
    virtual qint64 size() const = 0;
    // When the file was last written, in milliseconds since the epoch.
    virtual qint64 modified() const = 0;
};

// The program's own folder for what must survive a crash: $XDG_STATE_HOME/quorvex (by default
// ~/.local/state/quorvex). It is made with mode 0700 and used only when it is a folder of this
// user's, never through a symbolic link; its files are made with mode 0600. Names are plain
// file names within the folder. Calls may come from several threads at once. Every failure
// throws a Failure naming the file.
class StateFolder
{
public:
    virtual ~StateFolder() = default;
    // The folder's path, for messages.
    virtual QString path() const = 0;
    // Creates a new file under a name no other file has, locked, the folder synced.
    virtual std::unique_ptr<StateFile> create(const QString &name) = 0;
    // Opens a file for reading and locks it, or gives null when a running program holds it,
    // or when it is not a regular file of this user's.
    virtual std::unique_ptr<StateFile> claim(const QString &name) = 0;
    // The names of the files, in no order; none when the folder does not exist yet.
    virtual QStringList list() = 0;
    // Gives a file another name, replacing any file of that name, the folder synced.
    virtual void rename(const QString &from, const QString &to) = 0;
    // Removes a file, if it is there; the folder is synced.
    virtual void remove(const QString &name) = 0;
};
