#include "saverepair.h"

#include "failure.h"
#include "filefailures.h"
#include "posixfiles.h"
#include "saveintent.h"
#include "statefolder.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace PosixFiles;

namespace {

// A record is a few short lines; anything much larger is not one of ours.
constexpr qint64 LargestRecord = 1 << 16;
constexpr qsizetype CopyBuffer = 1 << 20;

QString shownPath(const QByteArray &folder, const QByteArray &name)
{
    return FileFailures::shown(QFile::decodeName(folder + '/' + name));
}

Descriptor openFolder(const QByteArray &folder)
{
    return Descriptor(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

bool regularFile(int folder, const QByteArray &name, struct stat *info)
{
    return folder >= 0 && ::fstatat(folder, name.constData(), info, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(info->st_mode);
}

// Removes a name that is a regular file; a link or anything else of that name is left alone.
void removeFile(int folder, const QByteArray &name)
{
    struct stat info;
    if (regularFile(folder, name, &info) && ::unlinkat(folder, name.constData(), 0) == 0)
        syncFolder(folder);
}

bool sameBytes(int a, int b)
{
    struct stat first, second;
    if (::fstat(a, &first) != 0 || ::fstat(b, &second) != 0 || first.st_size != second.st_size)
        return false;
    QByteArray left(CopyBuffer, Qt::Uninitialized), right(CopyBuffer, Qt::Uninitialized);
    for (off_t done = 0; done < first.st_size;) {
        const ssize_t got = ::pread(a, left.data(), size_t(left.size()), done);
        if (got <= 0 || ::pread(b, right.data(), size_t(got), done) != got
            || std::memcmp(left.constData(), right.constData(), size_t(got)) != 0)
            return false;
        done += got;
    }
    return true;
}

bool putBack(int from, int to, int *error)
{
    struct stat info;
    if (::fstat(from, &info) != 0) {
        *error = errno;
        return false;
    }
    QByteArray buffer(CopyBuffer, Qt::Uninitialized);
    if (!copyAll(from, to, info.st_size, buffer, error))
        return false;
    if (::ftruncate(to, info.st_size) != 0) {
        *error = errno;
        return false;
    }
    return synced(to, error);
}

// Gives whole new contents a name beside the file, "NAME (new).EXT", the first one free.
QByteArray offer(int folder, const QByteArray &temporary, const QByteArray &name)
{
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray extension = dot > 0 ? name.mid(dot) : QByteArray();
    const QByteArray shortStem = stem.size() + extension.size() > 200 ? stem.left(100) : stem;
    for (int count = 1; count < 10; ++count) {
        const QByteArray numbered
            = count == 1 ? " (new)" : " (new " + QByteArray::number(count) + ')';
        const QByteArray candidate = shortStem + numbered + extension;
        int error = 0;
        if (placeUnder(folder, temporary, candidate, &error)) {
            syncFolder(folder);
            return candidate;
        }
        if (error != EEXIST)
            break;
    }
    return temporary;
}

// What a backup that is surely the save's own copy tells and asks for; empty when there is none.
QString settleBackup(const SaveRecord &record, int folder)
{
    const Descriptor backupFolder = openFolder(record.backupFolder);
    struct stat info;
    if (record.backupName.isEmpty() || !regularFile(backupFolder.get(), record.backupName, &info)
        || quint64(info.st_dev) != record.backupDevice
        || quint64(info.st_ino) != record.backupInode)
        return {};
    const QString kept = shownPath(record.backupFolder, record.backupName);
    if (record.rewritten) {
        removeFile(backupFolder.get(), record.backupName);
        return {};
    }
    const Descriptor copy(::openat(backupFolder.get(), record.backupName.constData(),
                                   O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const Descriptor target(
        folder < 0 ? -1
                   : ::openat(folder, record.name.constData(),
                              O_RDWR | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat now;
    if (target.get() < 0 || ::fstat(target.get(), &now) != 0 || !S_ISREG(now.st_mode)
        || quint64(now.st_dev) != record.targetDevice
        || quint64(now.st_ino) != record.targetInode) {
        return u"The file has been replaced or removed since; its old contents are kept in %1."_s
            .arg(kept);
    }
    if (copy.get() >= 0 && sameBytes(copy.get(), target.get())) {
        removeFile(backupFolder.get(), record.backupName);
        return u"The file still holds its old contents."_s;
    }
    int error = 0;
    if (copy.get() < 0)
        error = errno;
    else if (putBack(copy.get(), target.get(), &error)) {
        removeFile(backupFolder.get(), record.backupName);
        return u"The file was left damaged; its old contents have been put back."_s;
    }
    return u"The file was left damaged, and its old contents could not be put back (%1); they "
           "are kept in %2."_s.arg(qt_error_string(error), kept);
}

// Whether the file already holds the whole new contents of the temporary file: a rewrite that
// ended just before it was recorded.
bool holdsWholeNew(const SaveRecord &record, int folder)
{
    if (folder < 0 || record.temporary.isEmpty() || record.newSize < 0)
        return false;
    const Descriptor fresh(
        ::openat(folder, record.temporary.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const Descriptor file(
        ::openat(folder, record.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    return fresh.get() >= 0 && file.get() >= 0 && ::fstat(fresh.get(), &info) == 0
        && info.st_size == record.newSize && sameBytes(fresh.get(), file.get());
}

// Puts one save right and says what was found and done.
QString repair(SaveRecord record)
{
    const QString head = u"A save of %1 was cut short when Quorvex last closed."_s.arg(
        shownPath(record.folder, record.name));
    const Descriptor folder = openFolder(record.folder);
    record.rewritten = record.rewritten || holdsWholeNew(record, folder.get());
    QString state = settleBackup(record, folder.get());
    QStringList news;
    if (!record.backupTemporary.isEmpty()) {
        // Partial, or a second name of the backup settled above.
        const Descriptor backupFolder = openFolder(record.backupTemporaryFolder);
        removeFile(backupFolder.get(), record.backupTemporary);
    }
    bool holdsNew = record.rewritten;
    struct stat info;
    if (folder.get() < 0) {
        news.append(u"Its folder can no longer be reached."_s);
    } else if (record.temporary.isEmpty()) {
    } else if (!regularFile(folder.get(), record.temporary, &info)) {
        // Gone with the rename that put it in place, when it had been written whole.
        holdsNew = holdsNew || record.newSize >= 0;
    } else if (record.rewritten) {
        removeFile(folder.get(), record.temporary);
    } else if (record.newSize >= 0 && info.st_size == record.newSize) {
        const QByteArray offered = offer(folder.get(), record.temporary, record.name);
        news.append(u"The new contents had been written whole; they are kept in %1."_s.arg(
            shownPath(record.folder, offered)));
    } else {
        removeFile(folder.get(), record.temporary);
        news.append(u"An unfinished copy of the new contents has been removed."_s);
    }
    if (state.isEmpty() && folder.get() >= 0)
        state = holdsNew ? u"The file holds the new contents."_s
                         : u"The file still holds its old contents."_s;
    return QStringList { head, state }.join(u' ').trimmed()
        + (news.isEmpty() ? QString() : u' ' + news.join(u' '));
}

} // namespace

QStringList repairInterruptedSaves(StateFolder &state)
{
    QStringList messages;
    try {
        for (const QString &name : state.list()) {
            if (!name.startsWith(SaveIntent::Prefix))
                continue;
            const std::unique_ptr<StateFile> file = state.claim(name);
            if (!file) // a save going on now, in a program that runs
                continue;
            const qint64 size = file->size();
            QByteArray bytes(qMin(size, LargestRecord), Qt::Uninitialized);
            bytes.truncate(file->readAt(0, bytes.data(), bytes.size()));
            if (const std::optional<SaveRecord> record = SaveRecord::parse(bytes))
                messages.append(repair(*record));
            state.remove(name);
        }
    } catch (const Failure &failure) {
        messages.append(failure.description());
    } catch (const std::bad_alloc &) {
        messages.append(u"Out of memory while looking for saves cut short."_s);
    }
    return messages;
}
