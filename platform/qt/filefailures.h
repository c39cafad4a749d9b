#pragma once

#include "failure.h"

#include <QString>

#ifdef Q_OS_UNIX
struct stat;
#endif

// The failures that opening, reading and writing files raise, each naming the path as the user
// chose it. Those of a save add that the file on disk was not changed.
namespace FileFailures {

// What was being done: it decides that note, and what an unexpected system error is called.
enum class Step { OpenInput, OpenOutput, Write };

QString shown(const QString &path);
QString unchangedNote();

Failure badFileName(const QString &path);
Failure fileNotFound(const QString &path);
Failure pathNotFound(const QString &path);
Failure folderGivenAsFile(const QString &path);
Failure notARegularFile(const QString &path);
Failure linkLoop(const QString &path);
Failure outOfMemory(const QString &path, Step step = Step::OpenInput);
Failure permissionDenied(const QString &path, Step step);
Failure accessError(const QString &path, const QString &detail, Step step);
Failure deviceIOError(const QString &path, const QString &detail, Step step);
Failure diskFull(const QString &path, Step step);

bool folderIsMissing(const QString &path);

// The same failure with another closing note in place of the unchanged note, for failures
// after which the file on disk is not what it was.
Failure withNote(const Failure &failure, const QString &note);

#ifdef Q_OS_UNIX
Failure fromErrno(int error, const QString &path, Step step);
// No copy of the old contents could be made before rewriting the file over itself.
Failure noBackup(int error, const QString &path);
// Throws unless the name leads to a regular file: a folder, FIFO or device is never opened.
void requireRegularFile(const struct stat &info, const QString &path);
#endif

} // namespace FileFailures
