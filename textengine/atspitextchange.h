#pragma once

#include <QString>

class QAccessibleInterface;

// Tells AT-SPI clients of a change to a text longer than any event should carry: its true
// offset and length, with only the start of its text. Qt's text events give the length of the
// text they carry, so this goes out through Qt's own AT-SPI connection, as the event Qt would
// send. False where there is no AT-SPI bridge (another platform, or a build without Qt's
// private headers): the caller tells what it can the usual way.
enum class AccessibleTextChange { Inserted, Removed };
bool tellLongTextChange(QAccessibleInterface *source, AccessibleTextChange change, int offset, int length,
                        const QString &start);
