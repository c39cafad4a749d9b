#include "safefilewriter.h"

#include "filefailures.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using namespace FileFailures;

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

bool writeAll(int fd, QByteArrayView bytes, off_t offset, bool positioned, int *error)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = positioned ? ::pwrite(fd, data, size_t(left), offset)
                                           : ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (written == 0) {
            *error = ENOSPC;
            return false;
        }
        data += written;
        left -= written;
        offset += written;
    }
    return true;
}

bool readAll(int fd, QByteArray &bytes, int *error)
{
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        *error = errno;
        return false;
    }
    bytes.resize(info.st_size);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (got == 0)
            break;
        done += got;
    }
    bytes.truncate(done);
    return true;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The rename is in the folder; without this it may not survive a power cut.
void syncFolder(const QByteArray &file)
{
    const int fd = ::open(folderOf(file).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

#endif

} // namespace

SafeFileWriter::SafeFileWriter(const QString &path) : m_path(path), m_target(path) { }

SafeFileWriter::~SafeFileWriter() { cancel(); }

void SafeFileWriter::cancel()
{
    if (m_temporary)
        m_temporary->cancelWriting();
    m_temporary.reset(); // an uncommitted QSaveFile removes its temporary file
    m_pending.clear();
    m_open = false;
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

    struct stat info;
    if (::stat(target.constData(), &info) == 0) {
        requireRegularFile(info, m_path);
        m_existed = true;
        m_mode = info.st_mode & 07777;
        m_owner = info.st_uid;
        m_group = info.st_gid;
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            throw fromErrno(errno, m_path, Opening);
    } else if (errno != ENOENT) {
        throw fromErrno(errno, m_path, Opening);
    } else {
        struct stat folder;
        if (::stat(folderOf(target).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode))
            throw pathNotFound(m_path);
    }
    openTemporary();
}

void SafeFileWriter::openTemporary()
{
    // No direct-write fallback: it empties the old file before the first byte is written.
    m_temporary = std::make_unique<QSaveFile>(m_target);
    if (m_temporary->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_open = true;
        return;
    }
    const QString reason = m_temporary->errorString();
    m_temporary.reset();
    if (m_existed) {
        // The file was found writable above: replace it in place, carefully, at commit.
        m_inPlace = true;
        m_open = true;
        return;
    }
    const QByteArray folder = folderOf(QFile::encodeName(m_target));
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        throw fromErrno(errno, m_path, Opening);
    throw accessError(m_path, reason, Opening);
}

void SafeFileWriter::write(QByteArrayView bytes)
{
    if (!m_open)
        throw notOpen(m_path);
    if (m_inPlace) {
        m_pending.append(bytes);
        return;
    }
    int error = 0;
    if (!writeAll(m_temporary->handle(), bytes, 0, false, &error)) {
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
            commitInPlace();
        else
            commitTemporary();
    } catch (...) {
        cancel();
        throw;
    }
    m_open = false;
}

void SafeFileWriter::keepAttributes(int fd)
{
    if (!m_existed) {
        // A new file gets the usual mode of a created file, whatever the temporary file had.
        if (::fchmod(fd, 0666 & ~currentUmask()) != 0)
            throw fromErrno(errno, m_path, Writing);
        return;
    }
    // Where the owner may not be given away, the group alone may still be kept.
    if (::fchown(fd, m_owner, m_group) != 0)
        (void)::fchown(fd, uid_t(-1), m_group);
    // After the change of owner, which clears the set-id bits.
    if (::fchmod(fd, mode_t(m_mode)) != 0)
        throw fromErrno(errno, m_path, Writing);
}

void SafeFileWriter::commitTemporary()
{
    const int fd = m_temporary->handle();
    if (!m_temporary->flush() || m_temporary->error() != QFileDevice::NoError)
        throw deviceIOError(m_path, m_temporary->errorString(), Writing);
    if (::fsync(fd) != 0)
        throw fromErrno(errno, m_path, Writing);
    keepAttributes(fd);
    if (!m_temporary->commit())
        throw accessError(m_path, m_temporary->errorString(), Writing);
    m_temporary.reset();
    syncFolder(QFile::encodeName(m_target));
}

void SafeFileWriter::commitInPlace()
{
    const QByteArray target = QFile::encodeName(m_target);
    const int fd = ::open(target.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw fromErrno(errno, m_path, Opening);
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };

    struct stat info;
    if (::fstat(fd, &info) != 0)
        throw fromErrno(errno, m_path, Opening);
    requireRegularFile(info, m_path);

    QByteArray old;
    int error = 0;
    if (!readAll(fd, old, &error))
        throw fromErrno(error, m_path, Opening);
    const off_t oldSize = off_t(old.size());
    const off_t newSize = off_t(m_pending.size());

    // Reserve the room first, so that running out of it is found before any old byte goes.
    if (newSize > oldSize) {
        const int reserved = ::posix_fallocate(fd, 0, newSize);
        if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) {
            (void)::ftruncate(fd, oldSize);
            throw fromErrno(reserved, m_path, Writing);
        }
    }

    bool replaced = writeAll(fd, m_pending, 0, true, &error);
    if (replaced && ::ftruncate(fd, newSize) != 0) {
        error = errno;
        replaced = false;
    }
    if (replaced && ::fsync(fd) != 0) {
        error = errno;
        replaced = false;
    }
    if (replaced) {
        m_pending.clear();
        return;
    }
    // Put the old bytes back, as far as the disk lets us.
    int ignored = 0;
    const bool restored
        = writeAll(fd, old, 0, true, &ignored) && ::ftruncate(fd, oldSize) == 0 && ::fsync(fd) == 0;
    const Failure failure = fromErrno(error, m_path, Writing);
    if (restored)
        throw failure;
    QString description = failure.description();
    description.chop(unchangedNote().size());
    throw Failure(failure.number(),
                  description + u" The old contents could not be put back either."_s);
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
void SafeFileWriter::commitInPlace() { }
void SafeFileWriter::keepAttributes(int) { }

#endif
