#include "safefilewriter.h"

#include "filefailures.h"
#include "posixfiles.h"

#include "saveintent.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <optional>
#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using namespace FileFailures;
using namespace PosixFiles;

namespace {

constexpr Step Opening = Step::OpenOutput;
constexpr Step Writing = Step::Write;

Failure notOpen(const QString &path)
{
    return Failure(FailureNumber::BadFileNameOrNumber,
                   u"Bad file name or number: %1 is not open for writing."_s.arg(shown(path)));
}

#ifdef Q_OS_UNIX

constexpr int MostLinksFollowed = 40; // as the kernel allows in one path

// A file size limit must end a save with EFBIG, not end the program.
void ignoreFileSizeSignal()
{
    static const bool done = [] {
        struct sigaction current = {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    Q_UNUSED(done);
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// The file a name finally leads to. A name that does not exist yet (a new file, or the end of
// a dangling link) is the file to create.
QByteArray followLinks(const QByteArray &name, const QString &path)
{
    QByteArray current = name;
    for (int followed = 0;; ++followed) {
        struct stat info;
        if (::lstat(current.constData(), &info) != 0) {
            if (errno == ENOENT)
                return current;
            throw fromErrno(errno, path, Opening);
        }
        if (!S_ISLNK(info.st_mode))
            return current;
        if (followed == MostLinksFollowed)
            throw linkLoop(path);
        QByteArray target(qMax<qsizetype>(info.st_size, 256) + 1, Qt::Uninitialized);
        const ssize_t length = ::readlink(current.constData(), target.data(), target.size());
        if (length < 0)
            throw fromErrno(errno, path, Opening);
        if (length >= target.size()) // the link changed under us; read it again
            continue;
        target.truncate(length);
        current = target.startsWith('/') ? target : folderOf(current) + '/' + target;
    }
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A file name cut short enough to take a suffix, at a character boundary.
QByteArray shortened(QByteArray name, qsizetype longest = 200)
{
    if (name.size() <= longest)
        return name;
    qsizetype cut = longest;
    while (cut > 0 && (uchar(name.at(cut)) & 0xC0) == 0x80)
        --cut;
    name.truncate(cut);
    return name;
}

QByteArray nameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

// NAME.XXXXXX, with six random letters or digits.
QByteArray temporaryName(const QByteArray &name)
{
    static constexpr char Letters[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(6, Qt::Uninitialized);
    for (char &c : suffix)
        c = Letters[QRandomGenerator::system()->bounded(int(sizeof Letters - 1))];
    return shortened(name) + '.' + suffix;
}

// A synced copy of a file's old contents, kept while the file is rewritten over itself.
struct Backup
{
    Descriptor fd;
    Descriptor folder; // of a backup in the cache folder; else the target's is used
    int in = -1;
    QByteArray name;
    QString shown; // its path, for messages

    void remove()
    {
        fd.reset();
        ::unlinkat(in, name.constData(), 0);
        syncFolder(in);
    }
};

// The program's folder in the user's cache folder, made private; none where it cannot be made
// or is not this user's own folder.
Descriptor cacheFolder(QByteArray *path)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty() || !QDir().mkpath(base))
        return Descriptor();
    *path = QFile::encodeName(base) + "/quorvex";
    ::mkdir(path->constData(), 0700);
    Descriptor folder(::open(path->constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info;
    if (folder.get() >= 0 && (::fstat(folder.get(), &info) != 0 || info.st_uid != ::geteuid()))
        folder.reset();
    return folder;
}

// The names a backup in the cache folder may take: the whole path, its slashes written as "!"
// (and "!" as "!!"), so that files of the same name in other folders are told apart; the end
// of it and a digest of the whole where that is too long for a name.
QList<QByteArray> cacheNames(const QByteArray &target)
{
    QByteArray escaped = target;
    escaped.replace('!', "!!").replace('/', '!');
    if (escaped.size() > 200) {
        const QByteArray digest
            = QCryptographicHash::hash(target, QCryptographicHash::Sha1).toHex().left(16);
        QByteArray tail = escaped.right(160);
        while (!tail.isEmpty() && (uchar(tail.at(0)) & 0xC0) == 0x80)
            tail.remove(0, 1);
        escaped = digest + '#' + tail;
    }
    QList<QByteArray> names { escaped + '~' };
    for (int i = 2; i <= 9; ++i)
        names.append(escaped + '~' + QByteArray::number(i));
    return names;
}

#endif

} // namespace

SafeFileWriter::SafeFileWriter(const QString &path, StateFolder *intents)
    : m_path(path), m_target(path), m_intents(intents)
{
}

SafeFileWriter::~SafeFileWriter() { cancel(); }

void SafeFileWriter::cancel()
{
    dropTemporary();
    if (m_temporary)
        m_temporary->cancelWriting();
    m_temporary.reset(); // an uncommitted QSaveFile removes its temporary file
    m_pending.clear();
    m_open = false;
    // Last: whatever the record names is gone or whole by now.
    m_intent.reset();
#ifdef Q_OS_UNIX
    if (m_folder >= 0)
        ::close(m_folder);
    m_folder = -1;
#endif
}

#ifdef Q_OS_UNIX

void SafeFileWriter::open()
{
    if (m_path.isEmpty())
        throw badFileName(m_path);
    ignoreFileSizeSignal();
    const QByteArray chosen = QFile::encodeName(m_path);
    const QByteArray target = followLinks(chosen, m_path);
    if (target != chosen)
        m_target = QFile::decodeName(target);
    m_folderPath = folderOf(target);
    m_name = nameOf(target);
    struct stat info;
    if (m_name.isEmpty()) { // ends with a slash
        if (::stat(target.constData(), &info) == 0)
            requireRegularFile(info, m_path);
        throw pathNotFound(m_path);
    }
    // Search rights are enough here: the folder may be one the user can only write into.
    m_folder = ::open(m_folderPath.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        throw errno == ENOENT || errno == ENOTDIR ? pathNotFound(m_path)
                                                  : fromErrno(errno, m_path, Opening);
    if (!m_folderPath.startsWith('/'))
        m_folderPath = QFile::encodeName(QDir::currentPath()) + '/' + m_folderPath;

    if (::fstatat(m_folder, m_name.constData(), &info, 0) == 0) {
        requireRegularFile(info, m_path);
        m_existed = true;
        m_mode = info.st_mode & 07777;
        m_owner = info.st_uid;
        m_group = info.st_gid;
        if (::faccessat(m_folder, m_name.constData(), W_OK, AT_EACCESS) != 0)
            throw fromErrno(errno, m_path, Opening);
        // A replacement would part the links: every one of them must see the new text.
        m_inPlace = info.st_nlink > 1;
    } else if (errno != ENOENT) {
        throw fromErrno(errno, m_path, Opening);
    }
    m_intent
        = std::make_unique<SaveIntent>(m_intents, m_folderPath, m_name, [this] { stepRecorded(); });
    openTemporary();
    m_open = true;
}

void SafeFileWriter::openTemporary()
{
    int fd = -1;
    int error = EEXIST;
    for (int attempt = 0; fd < 0 && error == EEXIST && attempt < 100; ++attempt) {
        const QByteArray name = temporaryName(m_name);
        m_intent->temporary(name);
        fd = ::openat(m_folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        error = errno;
        if (fd >= 0)
            m_temporaryName = name;
    }
    if (fd < 0) {
        if (!m_existed)
            throw fromErrno(error, m_path, Opening);
        // The file was found writable above; the new contents are gathered in memory.
        m_inPlace = true;
        return;
    }
    m_temporaryFd = fd;
    // Where it cannot replace the file, the temporary file only holds the new contents until
    // they are copied over the old ones.
    if (m_existed && !m_inPlace && !carryOwnership(fd, m_owner, m_group))
        m_inPlace = true;
}

bool SafeFileWriter::carryOwnership(int fd, unsigned owner, unsigned group)
{
    if (::fchown(fd, uid_t(owner), gid_t(group)) == 0)
        return true;
    // Some file systems refuse any change, even to what the file already has.
    struct stat info;
    return ::fstat(fd, &info) == 0 && info.st_uid == owner && info.st_gid == group;
}

void SafeFileWriter::dropTemporary()
{
    if (m_temporaryFd >= 0)
        ::close(m_temporaryFd);
    if (!m_temporaryName.isEmpty())
        ::unlinkat(m_folder, m_temporaryName.constData(), 0);
    m_temporaryFd = -1;
    m_temporaryName.clear();
}

void SafeFileWriter::write(QByteArrayView bytes)
{
    if (!m_open)
        throw notOpen(m_path);
    if (m_temporaryFd < 0) {
        m_pending.append(bytes);
        return;
    }
    int error = 0;
    if (!writeAll(m_temporaryFd, bytes, 0, false, &error)) {
        cancel();
        throw fromErrno(error, m_path, Writing);
    }
}

void SafeFileWriter::commit()
{
    if (!m_open)
        throw notOpen(m_path);
    try {
        if (m_inPlace)
            commitInPlace(m_temporaryFd);
        else
            commitTemporary();
    } catch (...) {
        cancel();
        throw;
    }
    cancel();
}

void SafeFileWriter::commitTemporary()
{
    const int fd = m_temporaryFd;
    struct stat info;
    if (::fsync(fd) != 0 || ::fstat(fd, &info) != 0)
        throw fromErrno(errno, m_path, Writing);
    m_intent->newContentsWhole(info.st_size);
    // After the change of owner, which clears the set-id bits.
    const mode_t mode = m_existed ? mode_t(m_mode) : 0666 & ~currentUmask();
    if (::fchmod(fd, mode) != 0)
        throw fromErrno(errno, m_path, Writing);
    if (::renameat(m_folder, m_temporaryName.constData(), m_folder, m_name.constData()) != 0) {
        if (!m_existed)
            throw fromErrno(errno, m_path, Writing);
        // Not replaceable (a file mounted on its own, a sticky folder): written over itself.
        m_inPlace = true;
        commitInPlace(fd);
        return;
    }
    m_temporaryName.clear();
    if (const int error = syncFolder(m_folder))
        throw withNote(fromErrno(error, m_path, Writing),
                       u" It was replaced, but the change may not have reached the disk."_s);
}

namespace {

// A whole, synced copy of the file's old contents: NAME~ beside it when that can be made and is
// not taken, else a name of its own in the user's cache folder. Each is written under a
// temporary name first, so that nothing under a backup's name is ever partial.
Backup makeBackup(int file, const struct stat &target, QByteArray &buffer, int folder,
                  const QByteArray &folderPath, const QByteArray &name, SaveIntent &intent,
                  const QString &path)
{
    int firstError = 0; // the cause to report: that of the place beside the file, mostly
    int error = 0;
    const auto failed = [&](int cause) {
        error = cause;
        if (firstError == 0 && cause != EEXIST)
            firstError = cause;
    };
    const auto attempt = [&](int in, const QByteArray &where,
                             const QList<QByteArray> &finalNames) -> std::optional<Backup> {
        QByteArray temporary;
        Descriptor fd;
        for (int tries = 0; fd.get() < 0 && tries < 100; ++tries) {
            temporary = temporaryName(name);
            intent.backupTemporary(where, temporary);
            fd = Descriptor(
                ::openat(in, temporary.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            if (fd.get() < 0 && errno != EEXIST)
                break;
        }
        if (fd.get() < 0) {
            failed(errno);
            return std::nullopt;
        }
        struct stat copy;
        if (copyAll(file, fd.get(), target.st_size, buffer, &error) && synced(fd.get(), &error)
            && ::fstat(fd.get(), &copy) == 0) {
            for (const QByteArray &finalName : finalNames) {
                intent.backup(where, finalName, copy.st_dev, copy.st_ino, target.st_dev,
                              target.st_ino);
                int placeError = 0;
                if (placeUnder(in, temporary, finalName, &placeError)) {
                    if ((error = syncFolder(in)) != 0)
                        break;
                    return Backup { std::move(fd), Descriptor(), in, finalName,
                                    QFile::decodeName(where + '/' + finalName) };
                }
                failed(placeError);
                if (placeError != EEXIST)
                    break;
            }
        } else {
            failed(error);
        }
        ::unlinkat(in, temporary.constData(), 0);
        return std::nullopt;
    };

    if (auto beside = attempt(folder, folderPath, { name + '~' }))
        return std::move(*beside);
    QByteArray cachePath;
    Descriptor cache = cacheFolder(&cachePath);
    if (cache.get() >= 0) {
        if (auto kept = attempt(cache.get(), cachePath, cacheNames(folderPath + '/' + name))) {
            kept->folder = std::move(cache);
            return std::move(*kept);
        }
    }
    throw noBackup(firstError ? firstError : error, path);
}

} // namespace

// The new contents come from `source`, or from those gathered when it is -1.
void SafeFileWriter::commitInPlace(int source)
{
    const Descriptor file(
        ::openat(m_folder, m_name.constData(), O_RDWR | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0)
        throw fromErrno(errno, m_path, Opening);
    struct stat target;
    if (::fstat(file.get(), &target) != 0)
        throw fromErrno(errno, m_path, Opening);
    requireRegularFile(target, m_path);
    const off_t oldSize = target.st_size;
    off_t newSize = off_t(m_pending.size());
    if (source >= 0) {
        struct stat info;
        if (::fsync(source) != 0 || ::fstat(source, &info) != 0)
            throw fromErrno(errno, m_path, Writing);
        newSize = info.st_size;
        m_intent->newContentsWhole(newSize);
    }
    // Taken before the first byte of the file changes: running out of memory later could leave
    // it neither old nor new.
    QByteArray buffer(qMax<off_t>(qMin<off_t>(qMax(oldSize, newSize), 1 << 20), 1),
                      Qt::Uninitialized);

    Backup backup
        = makeBackup(file.get(), target, buffer, m_folder, m_folderPath, m_name, *m_intent, m_path);

    // Reserve the room first, so that running out of it is found before any old byte goes.
    int error = 0;
    if (newSize > oldSize) {
        const int reserved = ::posix_fallocate(file.get(), 0, newSize);
        if (reserved != EOPNOTSUPP && reserved != EINVAL)
            error = reserved;
    }
    bool written = error == 0
        && (source < 0 ? writeAll(file.get(), m_pending, 0, true, &error)
                       : copyAll(source, file.get(), newSize, buffer, &error));
    if (written && ::ftruncate(file.get(), newSize) != 0) {
        error = errno;
        written = false;
    }
    bool reachedDisk = true;
    if (written && !synced(file.get(), &error))
        written = reachedDisk = false;
    if (written) {
        m_intent->rewritten();
        backup.remove();
        return;
    }

    // Put the old bytes back, as far as the disk lets us.
    int ignored = 0;
    const bool restored = copyAll(backup.fd.get(), file.get(), oldSize, buffer, &ignored)
        && ::ftruncate(file.get(), oldSize) == 0 && synced(file.get(), &ignored);
    const Failure failure = fromErrno(error, m_path, Writing);
    if (restored && reachedDisk) {
        backup.remove();
        throw failure;
    }
    // After a failed sync nothing written since can be trusted to be on the disk.
    const QString kept = shown(backup.shown);
    throw withNote(
        failure,
        restored ? u" The file on disk may be damaged; its old contents are kept in %1."_s.arg(kept)
                 : u" The old contents could not be put back; they are kept in %1."_s.arg(kept));
}

#else

void SafeFileWriter::open()
{
    if (m_path.isEmpty())
        throw badFileName(m_path);
    const QFileInfo info(m_path);
    if (info.isDir())
        throw folderGivenAsFile(m_path);
    if (info.exists() && !info.isFile())
        throw notARegularFile(m_path);
    if (!QFileInfo(info.absolutePath()).isDir())
        throw pathNotFound(m_path);
    if (info.exists() && !info.isWritable())
        throw permissionDenied(m_path, Opening);
    openTemporary();
}

void SafeFileWriter::openTemporary()
{
    m_temporary = std::make_unique<QSaveFile>(m_target);
    if (!m_temporary->open(QIODevice::WriteOnly)) {
        const QString reason = m_temporary->errorString();
        m_temporary.reset();
        throw accessError(m_path, reason, Opening);
    }
    m_open = true;
}

void SafeFileWriter::write(QByteArrayView bytes)
{
    if (!m_open)
        throw notOpen(m_path);
    if (m_temporary->write(bytes.data(), bytes.size()) != bytes.size()) {
        const QString reason = m_temporary->errorString();
        cancel();
        throw deviceIOError(m_path, reason, Writing);
    }
}

void SafeFileWriter::commit()
{
    if (!m_open)
        throw notOpen(m_path);
    const bool written = m_temporary->flush() && m_temporary->error() == QFileDevice::NoError;
    if (!written || !m_temporary->commit()) {
        const QString reason = m_temporary->errorString();
        cancel();
        throw deviceIOError(m_path, reason, Writing);
    }
    m_temporary.reset();
    m_open = false;
}

void SafeFileWriter::commitTemporary() { }
void SafeFileWriter::commitInPlace(int) { }
void SafeFileWriter::dropTemporary() { }
bool SafeFileWriter::carryOwnership(int, unsigned, unsigned) { return true; }

#endif
