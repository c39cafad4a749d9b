#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Stable failure numbers, as the classic runtimes number them.
namespace FailureNumber {
enum : int {
    InvalidProcedureCall = 5,
    OutOfMemory = 7,
    UserInterrupt = 18, // the user stopped the work (Escape)
    BadFileNameOrNumber = 52,
    FileNotFound = 53,
    BadFileMode = 54,
    FileAlreadyOpen = 55,
    DeviceIOError = 57,
    DiskFull = 61,
    InputPastEndOfFile = 62,
    TooManyFiles = 67,
    PermissionDenied = 70,
    PathFileAccessError = 75,
    PathNotFound = 76,
};
}

// What a failing platform operation throws: a number and a description for the user.
class Failure : public std::exception
{
public:
    Failure(int number, const QString &description);

    int number() const { return m_number; }
    QString description() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};
