#pragma once

#include "statefolder.h"

#include <QMutex>
#include <QString>

// The state folder on a POSIX system: files are reached through the folder's descriptor, so a
// name is never looked up through a link, and locked with flock(), which the system lets go of
// when the program ends, however it ends.
class PosixStateFolder : public StateFolder
{
public:
    // The folder under the given base; by default $XDG_STATE_HOME, or ~/.local/state.
    explicit PosixStateFolder(const QString &base = QString());
    ~PosixStateFolder() override;
    PosixStateFolder(const PosixStateFolder &) = delete;
    PosixStateFolder &operator=(const PosixStateFolder &) = delete;

    QString path() const override { return m_path; }
    std::unique_ptr<StateFile> create(const QString &name) override;
    std::unique_ptr<StateFile> claim(const QString &name) override;
    QStringList list() override;
    void rename(const QString &from, const QString &to) override;
    void remove(const QString &name) override;

private:
    // The folder's descriptor; made when makeIt, otherwise -1 while it does not exist.
    int folder(bool makeIt);
    void syncFolder(int fd, const QString &name);
    QString pathOf(const QString &name) const;

    QString m_base;
    QString m_path;
    QMutex m_mutex;
    int m_fd = -1;
};
