#pragma once

// Small pieces of POSIX file work shared by the save and its repair: descriptors closed on every
// way out, whole writes and copies, syncs.
#include <QByteArray>
#include <QByteArrayView>

#include <sys/types.h>
#include <utility>

namespace PosixFiles {

// Closes its descriptor when it goes.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) { }
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) { }
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
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

bool writeAll(int fd, QByteArrayView bytes, off_t offset, bool positioned, int *error);
// The first `size` bytes of one file over the start of another, through the buffer.
bool copyAll(int from, int to, off_t size, QByteArray &buffer, int *error);
bool synced(int fd, int *error);
// Syncs a folder, where a rename or a new name lives: without this it may not survive a power
// cut. Gives the error, or 0; a folder that cannot be opened for reading (one the user may
// only write into) or that the file system cannot sync is passed over.
int syncFolder(int folder);
// Gives a file a name that nothing has yet, never replacing what has it.
bool placeUnder(int folder, const QByteArray &from, const QByteArray &to, int *error);

} // namespace PosixFiles
