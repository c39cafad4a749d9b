#include "posixstatefolder.h"

#include "failure.h"
#include "filefailures.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace FileFailures;

namespace {

QByteArray encoded(const QString &name) { return QFile::encodeName(name); }

// The folder's files are the program's own: what a failure means for the user is said by the
// part that uses them, not the note of a document's save.
Failure failed(int error, const QString &path, Step step)
{
    return withNote(fromErrno(error, path, step), QString());
}

Failure notOwnFolder(const QString &path, const QString &why)
{
    return Failure(FailureNumber::PermissionDenied,
                   u"Permission denied: %1 is not used, because it %2."_s.arg(shown(path), why));
}

class PosixStateFile : public StateFile
{
public:
    PosixStateFile(int fd, QString path) : m_fd(fd), m_path(std::move(path)) { }
    ~PosixStateFile() override { ::close(m_fd); }

    void write(QByteArrayView bytes) override
    {
        writeAt(m_end, bytes);
        m_end += bytes.size();
    }

    void writeAt(qint64 offset, QByteArrayView bytes) override
    {
        const char *data = bytes.data();
        for (qint64 left = bytes.size(); left > 0;) {
            const ssize_t done = ::pwrite(m_fd, data, size_t(left), off_t(offset));
            if (done < 0) {
                if (errno == EINTR)
                    continue;
                throw failed(errno, m_path, Step::Write);
            }
            data += done;
            offset += done;
            left -= done;
        }
    }

    void sync() override
    {
        if (::fdatasync(m_fd) != 0)
            throw failed(errno, m_path, Step::Write);
    }

    qint64 readAt(qint64 offset, char *data, qint64 size) override
    {
        qint64 got = 0;
        while (got < size) {
            const ssize_t done = ::pread(m_fd, data + got, size_t(size - got), off_t(offset + got));
            if (done < 0) {
                if (errno == EINTR)
                    continue;
                throw failed(errno, m_path, Step::OpenInput);
            }
            if (done == 0)
                break;
            got += done;
        }
        return got;
    }

    qint64 size() const override
    {
        struct stat info;
        return ::fstat(m_fd, &info) == 0 ? qint64(info.st_size) : 0;
    }

    qint64 modified() const override
    {
        struct stat info;
        if (::fstat(m_fd, &info) != 0)
            return 0;
        return qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
    }

    void setEnd(qint64 end) { m_end = end; }

private:
    int m_fd;
    QString m_path;
    qint64 m_end = 0;
};

// Makes each missing folder of an absolute path, private as the state folders should be.
void makeFolders(const QByteArray &path)
{
    for (qsizetype slash = path.indexOf('/', 1); slash != -1; slash = path.indexOf('/', slash + 1))
        ::mkdir(path.left(slash).constData(), 0700);
    ::mkdir(path.constData(), 0700);
}

} // namespace

PosixStateFolder::PosixStateFolder(const QString &base) : m_base(base)
{
    if (m_base.isEmpty()) {
        m_base = qEnvironmentVariable("XDG_STATE_HOME");
        // Relative values are to be ignored.
        if (!QDir::isAbsolutePath(m_base))
            m_base = QDir::homePath() + u"/.local/state"_s;
    }
    m_path = m_base + u"/quorvex"_s;
}

PosixStateFolder::~PosixStateFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString PosixStateFolder::pathOf(const QString &name) const { return m_path + u'/' + name; }

int PosixStateFolder::folder(bool makeIt)
{
    QMutexLocker lock(&m_mutex);
    if (m_fd >= 0)
        return m_fd;
    const QByteArray base = encoded(m_base);
    if (makeIt)
        makeFolders(base);
    const int parent = ::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        if (!makeIt && errno == ENOENT)
            return -1;
        throw failed(errno, m_path, Step::OpenOutput);
    }
    if (makeIt && ::mkdirat(parent, "quorvex", 0700) != 0 && errno != EEXIST) {
        const int error = errno;
        ::close(parent);
        throw failed(error, m_path, Step::OpenOutput);
    }
    const int fd = ::openat(parent, "quorvex", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    ::close(parent);
    if (fd < 0) {
        if (!makeIt && error == ENOENT)
            return -1;
        if (error == ELOOP || error == ENOTDIR)
            throw notOwnFolder(m_path, u"is a link or not a folder"_s);
        throw failed(error, m_path, Step::OpenOutput);
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
        ::close(fd);
        throw notOwnFolder(m_path, u"belongs to another user"_s);
    }
    // What it holds is the user's unsaved text: nobody else may read it.
    if ((info.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        const int chmodError = errno;
        ::close(fd);
        throw failed(chmodError, m_path, Step::OpenOutput);
    }
    m_fd = fd;
    return m_fd;
}

void PosixStateFolder::syncFolder(int fd, const QString &name)
{
    if (::fsync(fd) != 0 && errno != EINVAL)
        throw failed(errno, pathOf(name), Step::Write);
}

std::unique_ptr<StateFile> PosixStateFolder::create(const QString &name)
{
    const int dir = folder(true);
    const int fd = ::openat(dir, encoded(name).constData(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw failed(errno, pathOf(name), Step::OpenOutput);
    auto file = std::make_unique<PosixStateFile>(fd, pathOf(name));
    // Nobody else has had the chance to lock a file this new.
    ::flock(fd, LOCK_EX | LOCK_NB);
    syncFolder(dir, name);
    return file;
}

std::unique_ptr<StateFile> PosixStateFolder::claim(const QString &name)
{
    const int dir = folder(false);
    if (dir < 0)
        return nullptr;
    const int fd
        = ::openat(dir, encoded(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto file = std::make_unique<PosixStateFile>(fd, pathOf(name));
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return nullptr;
    file->setEnd(info.st_size);
    return file;
}

QStringList PosixStateFolder::list()
{
    const int dir = folder(false);
    if (dir < 0)
        return {};
    const int fd = ::dup(dir);
    DIR *stream = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!stream) {
        if (fd >= 0)
            ::close(fd);
        throw failed(errno, m_path, Step::OpenInput);
    }
    ::rewinddir(stream);
    QStringList names;
    while (const dirent *entry = ::readdir(stream)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(QFile::decodeName(name));
    }
    ::closedir(stream);
    return names;
}

void PosixStateFolder::rename(const QString &from, const QString &to)
{
    const int dir = folder(true);
    if (::renameat(dir, encoded(from).constData(), dir, encoded(to).constData()) != 0)
        throw failed(errno, pathOf(to), Step::Write);
    syncFolder(dir, to);
}

void PosixStateFolder::remove(const QString &name)
{
    const int dir = folder(false);
    if (dir < 0)
        return;
    if (::unlinkat(dir, encoded(name).constData(), 0) != 0) {
        if (errno == ENOENT)
            return;
        throw failed(errno, pathOf(name), Step::Write);
    }
    syncFolder(dir, name);
}
