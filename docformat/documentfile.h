#pragma once

#include "text.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

class SequentialFiles;

// The format's two operations, under a number the caller took from freeFile(); the number is given
// back on every path, failures included.

// Creates the file or replaces its contents with the text, written as one item.
void writeDocument(SequentialFiles &files, qint16 number, const QString &path,
                   const TextSource &text);
inline void writeDocument(SequentialFiles &files, qint16 number, const QString &path,
                          QStringView text)
{
    writeDocument(files, number, path, wholeText(text));
}

// Every item of the file, in order.
QStringList readItems(SequentialFiles &files, qint16 number, const QString &path);
