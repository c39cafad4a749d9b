#pragma once

#include <QString>

// Removes leading and trailing spaces (only the space character, as the classic runtimes do).
QString trimSpaces(const QString &text);

// The one-character text with the given code.
QString chr(int code);
