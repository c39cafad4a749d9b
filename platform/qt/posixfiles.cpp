#include "posixfiles.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace PosixFiles {

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

bool copyAll(int from, int to, off_t size, QByteArray &buffer, int *error)
{
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

int syncFolder(int folder)
{
    const Descriptor fd(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return 0;
    return ::fsync(fd.get()) == 0 || errno == EINVAL ? 0 : errno;
}

bool placeUnder(int folder, const QByteArray &from, const QByteArray &to, int *error)
{
    if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *error = errno;
        return false;
    }
    // A file system without that rename: a second name, then the first one goes.
    if (::linkat(folder, from.constData(), folder, to.constData(), 0) != 0) {
        *error = errno;
        return false;
    }
    ::unlinkat(folder, from.constData(), 0);
    return true;
}

} // namespace PosixFiles
