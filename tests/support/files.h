#pragma once

// Real files for tests: a fresh folder per case, bytes in and out, failures as numbers, and the
// ways of making a save fail (an ordinary user's rights, a small full disk, lowered limits).
#include "failure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

inline QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                  | QDir::NoDotAndDotDot);
}

// The number of the failure the operation raised, or 0.
template<typename Operation>
int failureOf(Operation operation, QString *description = nullptr)
{
    try {
        operation();
    } catch (const Failure &failure) {
        if (description)
            *description = failure.description();
        return failure.number();
    }
    return 0;
}

// A fresh folder for each case (renew() from init()), open to an ordinary user too; useOwnCache()
// gives the test its own cache and state folders.
class TestFolder
{
public:
    void renew()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        QVERIFY(QFile::setPermissions(folder(), QFileDevice::Permissions(0x7005))); // rwx---r-x
        // A case run as an ordinary user may have made it, and it is used only when the user's own.
        QDir(m_cache.path() + QStringLiteral("/quorvex")).removeRecursively();
    }
    QString folder() const { return m_folder->path(); }
    QString path(const QString &name) const { return m_folder->filePath(name); }

    void useOwnCache()
    {
        QVERIFY(QFile::setPermissions(m_cache.path(), QFileDevice::Permissions(0x7777)));
        qputenv("XDG_CACHE_HOME", encoded(m_cache.path()));
        qputenv("XDG_STATE_HOME", encoded(m_state.path()));
    }
    // What the program keeps there.
    QStringList cacheKept() const { return entries(m_cache.path() + QStringLiteral("/quorvex")); }
    QStringList stateKept() const { return entries(stateFolder()); }
    QString stateFolder() const { return m_state.path() + QStringLiteral("/quorvex"); }

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    QTemporaryDir m_cache;
    QTemporaryDir m_state;
};

#ifdef Q_OS_UNIX

inline bool runningAsRoot() { return ::geteuid() == 0; }

// While alive, rights are checked as for an ordinary user: root takes nobody's identity.
class Unprivileged
{
public:
    static constexpr uid_t Nobody = 65534;
    Unprivileged() : m_wasRoot(runningAsRoot())
    {
        const gid_t group = Nobody;
        m_groupCount = m_wasRoot ? ::getgroups(int(std::size(m_groups)), m_groups) : 0;
        if (m_wasRoot
            && (::setgroups(1, &group) != 0 || ::setegid(Nobody) != 0 || ::seteuid(Nobody) != 0))
            qFatal("Could not take the identity of an ordinary user.");
    }
    ~Unprivileged()
    {
        if (m_wasRoot
            && (::seteuid(0) != 0 || ::setegid(0) != 0
                || ::setgroups(size_t(qMax(m_groupCount, 0)), m_groups) != 0))
            qFatal("Could not take back the identity of root.");
    }
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

private:
    bool m_wasRoot;
    gid_t m_groups[64] = {};
    int m_groupCount = 0;
};

// A mount of its own for as long as it lives (root only): a file system of the type on the folder
// (made when missing), or without a type, the source bound on the target.
class Mount
{
public:
    Mount(const QString &source, const QString &target, const char *type = nullptr,
          const char *options = nullptr)
        : m_target(encoded(target))
    {
        if (type)
            QDir().mkpath(target);
        m_mounted = ::mount(encoded(source).constData(), m_target.constData(), type,
                            type ? 0 : MS_BIND, options)
            == 0;
    }
    ~Mount()
    {
        if (m_mounted)
            ::umount2(m_target.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

    // Fills the file system to the last byte.
    bool fill() const
    {
        const int fd = ::open(m_target + "/filler", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const QByteArray block(4096, 'f');
        while (fd >= 0 && ::write(fd, block.constData(), block.size()) > 0) { }
        const bool full = errno == ENOSPC;
        return fd >= 0 && ::close(fd) == 0 && full;
    }

private:
    QByteArray m_target;
    bool m_mounted = false;
};

// Lowers one of this process's limits (RLIMIT_FSIZE, RLIMIT_NOFILE...) for as long as it lives.
class Limit
{
public:
    using Resource = decltype(RLIMIT_FSIZE);
    Limit(Resource resource, rlim_t value) : m_resource(resource)
    {
        ::getrlimit(resource, &m_saved);
        const struct rlimit lowered = { value, m_saved.rlim_max };
        m_set = ::setrlimit(resource, &lowered) == 0;
    }
    ~Limit() { ::setrlimit(m_resource, &m_saved); }
    bool set() const { return m_set; }

private:
    Resource m_resource;
    struct rlimit m_saved = {};
    bool m_set = false;
};

#endif
