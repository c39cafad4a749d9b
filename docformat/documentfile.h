#pragma once

#include "sequentialfiles.h"
#include "text.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The format's two operations, under a number the caller took from freeFile(); the number is given
// back on every path, failures included.

// Creates the file or replaces its contents with the text, written as one item in the encoding.
void writeDocument(SequentialFiles &files, qint16 number, const QString &path,
                   const TextSource &text, TextEncoding encoding = TextEncoding::Utf8);
inline void writeDocument(SequentialFiles &files, qint16 number, const QString &path,
                          QStringView text, TextEncoding encoding = TextEncoding::Utf8)
{
    writeDocument(files, number, path, wholeText(text), encoding);
}

// Every item of the file, in order.
QStringList readItems(SequentialFiles &files, qint16 number, const QString &path);
