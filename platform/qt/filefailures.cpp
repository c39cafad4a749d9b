#include "filefailures.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

namespace FileFailures {

namespace {

QString noteFor(Step step) { return step == Step::OpenInput ? QString() : unchangedNote(); }

} // namespace

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

QString unchangedNote() { return u" The file on disk was not changed."_s; }

Failure badFileName(const QString &path)
{
    return Failure(FailureNumber::BadFileNameOrNumber,
                   path.isEmpty()
                       ? u"Bad file name or number: the file name is empty."_s
                       : u"Bad file name or number: the name %1 is too long."_s.arg(shown(path)));
}

Failure fileNotFound(const QString &path)
{
    return Failure(FailureNumber::FileNotFound, u"File not found: %1"_s.arg(shown(path)));
}

Failure pathNotFound(const QString &path)
{
    return Failure(FailureNumber::PathNotFound,
                   u"Path not found: the folder of %1 does not exist."_s.arg(shown(path)));
}

Failure folderGivenAsFile(const QString &path)
{
    return Failure(FailureNumber::PathFileAccessError,
                   u"Path/File access error: %1 is a folder, not a file."_s.arg(shown(path)));
}

Failure notARegularFile(const QString &path)
{
    return Failure(
        FailureNumber::PathFileAccessError,
        u"Path/File access error: %1 is a device, pipe or socket, not a file."_s.arg(shown(path)));
}

Failure linkLoop(const QString &path)
{
    return Failure(
        FailureNumber::PathFileAccessError,
        u"Path/File access error: %1 is a symbolic link that leads round in a loop."_s.arg(
            shown(path)));
}

Failure outOfMemory(const QString &path, Step step)
{
    return Failure(FailureNumber::OutOfMemory,
                   u"Out of memory while working on %1."_s.arg(shown(path)) + noteFor(step));
}

Failure permissionDenied(const QString &path, Step step)
{
    return Failure(FailureNumber::PermissionDenied,
                   (step == Step::OpenInput ? u"Permission denied: %1 cannot be read."_s
                                            : u"Permission denied: %1 cannot be written."_s)
                           .arg(shown(path))
                       + noteFor(step));
}

Failure accessError(const QString &path, const QString &detail, Step step)
{
    return Failure(FailureNumber::PathFileAccessError,
                   u"Path/File access error: %1 (%2)."_s.arg(shown(path), detail) + noteFor(step));
}

Failure deviceIOError(const QString &path, const QString &detail, Step step)
{
    return Failure(FailureNumber::DeviceIOError,
                   (step == Step::OpenInput ? u"Device I/O error while reading %1 (%2)."_s
                                            : u"Device I/O error while writing %1 (%2)."_s)
                           .arg(shown(path), detail)
                       + noteFor(step));
}

Failure diskFull(const QString &path, Step step)
{
    return Failure(FailureNumber::DiskFull,
                   u"Disk full: there is no room left to write %1."_s.arg(shown(path))
                       + noteFor(step));
}

bool folderIsMissing(const QString &path)
{
    return !QFileInfo(QFileInfo(path).absolutePath()).isDir();
}

Failure withNote(const Failure &failure, const QString &note)
{
    QString description = failure.description();
    if (description.endsWith(unchangedNote()))
        description.chop(unchangedNote().size());
    return Failure(failure.number(), description + note);
}

#ifdef Q_OS_UNIX

Failure noBackup(int error, const QString &path)
{
    return Failure(fromErrno(error, path, Step::OpenOutput).number(),
                   u"%1 cannot be saved over itself: no copy of its contents could be kept first "
                   "(%2)."_s.arg(shown(path), qt_error_string(error))
                       + unchangedNote());
}

Failure fromErrno(int error, const QString &path, Step step)
{
    switch (error) {
    case ENOENT:
        // A file to be written is created, so only its folder can be missing.
        return step == Step::OpenInput && !folderIsMissing(path) ? fileNotFound(path)
                                                                 : pathNotFound(path);
    case ENOTDIR:
        return pathNotFound(path);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return permissionDenied(path, step);
    case EISDIR:
        return folderGivenAsFile(path);
    case ELOOP:
        return linkLoop(path);
    case ENAMETOOLONG:
        return badFileName(path);
    case EMFILE:
    case ENFILE:
        return Failure(FailureNumber::TooManyFiles,
                       u"Too many files: the system cannot open %1 now."_s.arg(shown(path)));
    case ENOMEM:
        return outOfMemory(path, step);
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return diskFull(path, step);
    case EIO:
        return deviceIOError(path, qt_error_string(error), step);
    default:
        return step == Step::Write ? deviceIOError(path, qt_error_string(error), step)
                                   : accessError(path, qt_error_string(error), step);
    }
}

void requireRegularFile(const struct stat &info, const QString &path)
{
    if (S_ISDIR(info.st_mode))
        throw folderGivenAsFile(path);
    if (!S_ISREG(info.st_mode))
        throw notARegularFile(path);
}

#endif

} // namespace FileFailures
