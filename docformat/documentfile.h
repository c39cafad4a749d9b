#pragma once

#include <QString>
#include <QStringList>

class SequentialFiles;

// The format's two operations, each under a file number of its own that is given back on every
// path, failures included.

// Creates the file or replaces its contents with the text, written as one item.
void writeDocument(SequentialFiles &files, const QString &path, const QString &text);

// Every item of the file, in order.
QStringList readItems(SequentialFiles &files, const QString &path);
