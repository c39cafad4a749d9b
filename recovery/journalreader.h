#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>

class StateFile;

// One edit of a journal: the units from position to position + removed became inserted (UTF-8).
struct JournalEdit
{
    qint64 position = 0;
    qint64 removed = 0;
    QByteArray inserted;
    qint64 insertedUnits = 0; // the length of inserted in UTF-16 units, as checked
};

// What a journal holds, as far as it could be read.
struct JournalContents
{
    bool usable = false; // a header of a format this program reads, and a whole base
    bool complete = false; // every byte of the file belongs to a whole, valid record
    bool tooLarge = false; // the text grew past the most it may hold
    QString path; // the document's file, empty when it had none
    QByteArray stamp; // what the journal was told of the file's state
    qint64 units = 0; // the length of the text it gives
    qint64 edits = 0;
};

// Reads a journal written by JournalWriter, trusting nothing in it: every record is checked
// (its length against the file, its checksum, its numbers against the text, its text as UTF-8)
// before it is used, and reading stops at the first that fails, so a journal cut short or
// damaged gives the text as it was after its last good record. The base's pieces go to base as
// they are read (check usable before keeping them); each good edit then goes to edit. A base or
// an edit's text past mostBytes of UTF-8, or a text past mostUnits, stops the reading with
// tooLarge; the whole text's bytes are the caller's to check.
JournalContents readJournal(StateFile &file, qint64 mostBytes, qint64 mostUnits,
                            const std::function<void(QByteArrayView)> &base = {},
                            const std::function<void(const JournalEdit &)> &edit = {});
