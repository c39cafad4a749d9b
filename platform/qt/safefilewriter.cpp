#include "safefilewriter.h"

#include "filefailures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <optional>
#include <utility>

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

// The first `size` bytes of one file over the start of another.
bool copyAll(int from, int to, off_t size, int *error)
{
    QByteArray buffer(qMin<off_t>(size, 1 << 20), Qt::Uninitialized);
    for (off_t done = 0; done < size;) {
        const ssize_t got
            = ::pread(from, buffer.data(), size_t(qMin<off_t>(buffer.size(), size - done)), done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            *error = got < 0 ? errno : EIO; // the source is shorter than it was
            return false;
        }
        if (!writeAll(to, QByteArrayView(buffer.constData(), got), done, true, error))
            return false;
        done += got;
    }
    return true;
}

bool synced(int fd, int *error)
{
    if (::fsync(fd) == 0)
        return true;
    *error = errno;
    return false;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Syncs the folder of a file, where a rename or a new name lives: without this it may not
// survive a power cut. Gives the error, or 0; a folder that cannot be opened at all (one the
// user may only write into) or that the file system cannot sync is passed over.
int syncFolder(const QByteArray &file)
{
    const int fd = ::open(folderOf(file).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return error;
}

// A file name cut short enough to take a suffix, at a character boundary.
QByteArray shortened(QByteArray name)
{
    constexpr qsizetype Longest = 200;
    if (name.size() <= Longest)
        return name;
    qsizetype cut = Longest;
    while (cut > 0 && (uchar(name.at(cut)) & 0xC0) == 0x80)
        --cut;
    name.truncate(cut);
    return name;
}

QByteArray nameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

// Closes its descriptor when it goes.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) { }
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) { }
    Descriptor &operator=(Descriptor &&) = delete;
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// A synced copy of a file's old contents, kept while the file is rewritten over itself.
struct Backup
{
    Descriptor fd;
    QByteArray name;

    void remove()
    {
        fd.reset();
        ::unlink(name.constData());
    }
};

QByteArray cacheFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty() || !QDir().mkpath(base))
        return QByteArray();
    const QByteArray folder = QFile::encodeName(base) + "/quorvex";
    ::mkdir(folder.constData(), 0700);
    return folder;
}

// NAME~ beside the file when it can be made there and is not taken, else a fresh name in the
// user's cache folder.
Backup makeBackup(int file, off_t size, const QByteArray &target, const QString &path)
{
    int error = 0;
    const auto attempt = [&](QByteArray name, bool fresh) -> std::optional<Backup> {
        Descriptor fd(fresh
                          ? ::mkostemp(name.data(), O_CLOEXEC)
                          : ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            error = errno;
            return std::nullopt;
        }
        if (copyAll(file, fd.get(), size, &error) && synced(fd.get(), &error)
            && (error = syncFolder(name)) == 0)
            return Backup { std::move(fd), name };
        ::unlink(name.constData());
        return std::nullopt;
    };
    if (auto beside = attempt(target + '~', false))
        return std::move(*beside);
    const QByteArray cache = cacheFolder();
    if (!cache.isEmpty()) {
        if (auto kept = attempt(cache + '/' + shortened(nameOf(target)) + "~XXXXXX", true))
            return std::move(*kept);
    }
    throw noBackup(error, path);
}

#endif

} // namespace

SafeFileWriter::SafeFileWriter(const QString &path) : m_path(path), m_target(path) { }

SafeFileWriter::~SafeFileWriter() { cancel(); }

void SafeFileWriter::cancel()
{
    dropTemporary();
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
        // A replacement would part the links: every one of them must see the new text.
        m_inPlace = info.st_nlink > 1;
    } else if (errno != ENOENT) {
        throw fromErrno(errno, m_path, Opening);
    } else {
        struct stat folder;
        if (::stat(folderOf(target).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode))
            throw pathNotFound(m_path);
    }
    openTemporary();
    m_open = true;
}

void SafeFileWriter::openTemporary()
{
    const QByteArray target = QFile::encodeName(m_target);
    QByteArray name = folderOf(target) + '/' + shortened(nameOf(target)) + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (!m_existed)
            throw fromErrno(error, m_path, Opening);
        // The file was found writable above; the new contents are gathered in memory.
        m_inPlace = true;
        return;
    }
    m_temporaryFd = fd;
    m_temporaryName = name;
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
        ::unlink(m_temporaryName.constData());
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
    if (::fsync(fd) != 0)
        throw fromErrno(errno, m_path, Writing);
    // After the change of owner, which clears the set-id bits.
    const mode_t mode = m_existed ? mode_t(m_mode) : 0666 & ~currentUmask();
    if (::fchmod(fd, mode) != 0)
        throw fromErrno(errno, m_path, Writing);
    const QByteArray target = QFile::encodeName(m_target);
    if (::rename(m_temporaryName.constData(), target.constData()) != 0) {
        if (!m_existed)
            throw fromErrno(errno, m_path, Writing);
        // Not replaceable (a file mounted on its own, a sticky folder): written over itself.
        m_inPlace = true;
        commitInPlace(fd);
        return;
    }
    m_temporaryName.clear();
    if (const int error = syncFolder(target))
        throw withNote(fromErrno(error, m_path, Writing),
                       u" It was replaced, but the change may not have reached the disk."_s);
}

// The new contents come from `source`, or from those gathered when it is -1.
void SafeFileWriter::commitInPlace(int source)
{
    const QByteArray target = QFile::encodeName(m_target);
    const Descriptor file(::open(target.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0)
        throw fromErrno(errno, m_path, Opening);
    struct stat info;
    if (::fstat(file.get(), &info) != 0)
        throw fromErrno(errno, m_path, Opening);
    requireRegularFile(info, m_path);
    const off_t oldSize = info.st_size;
    off_t newSize = off_t(m_pending.size());
    if (source >= 0) {
        if (::fstat(source, &info) != 0)
            throw fromErrno(errno, m_path, Writing);
        newSize = info.st_size;
    }

    Backup backup = makeBackup(file.get(), oldSize, target, m_path);

    // Reserve the room first, so that running out of it is found before any old byte goes.
    int error = 0;
    if (newSize > oldSize) {
        const int reserved = ::posix_fallocate(file.get(), 0, newSize);
        if (reserved != EOPNOTSUPP && reserved != EINVAL)
            error = reserved;
    }
    bool written = error == 0
        && (source < 0 ? writeAll(file.get(), m_pending, 0, true, &error)
                       : copyAll(source, file.get(), newSize, &error));
    if (written && ::ftruncate(file.get(), newSize) != 0) {
        error = errno;
        written = false;
    }
    bool reachedDisk = true;
    if (written && !synced(file.get(), &error))
        written = reachedDisk = false;
    if (written) {
        backup.remove();
        return;
    }

    // Put the old bytes back, as far as the disk lets us.
    int ignored = 0;
    const bool restored = copyAll(backup.fd.get(), file.get(), oldSize, &ignored)
        && ::ftruncate(file.get(), oldSize) == 0 && synced(file.get(), &ignored);
    const Failure failure = fromErrno(error, m_path, Writing);
    if (restored && reachedDisk) {
        backup.remove();
        throw failure;
    }
    // After a failed sync nothing written since can be trusted to be on the disk.
    const QString kept = shown(QFile::decodeName(backup.name));
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
