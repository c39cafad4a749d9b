#pragma once

#include "sequentialfiles.h"

#include <QString>

#include <functional>
#include <optional>

class Failure;

// The text an earlier run of the program left unsaved when it ended without closing.
struct LeftOverText
{
    QString path; // the document's file; empty for a document that never had one
    bool complete = true; // false when the end of what was kept could not be read
};

// Keeps the text of a changed document on disk until it is saved or dropped, so that no crash,
// kill or power cut loses what the user typed, and offers what an earlier run left. Every change
// of the text box's text is followed by itself; the document's state is told here.
class RecoveryJournal
{
public:
    virtual ~RecoveryJournal() = default;

    // The text as it stands is safe in its file, or the user agreed to lose it: the journal goes.
    // A later change starts a new one, for the given file (empty for none) as stamped.
    virtual void settle(const QString &path, const FileStamp &stamp) = 0;
    // The document's unsaved text belongs to another file from now on.
    virtual void setFile(const QString &path, const FileStamp &stamp) = 0;

    // The newest text that a program no longer running left; it is kept from other programs
    // until it is recovered, discarded or kept.
    virtual std::optional<LeftOverText> findLeftOver() = 0;
    // Makes it the text box's text, as a program's change, and the journal goes on as this
    // document's. Gives the stamp its file had when the text was last read or written there.
    // Throws a Failure when it cannot be read, or is larger than a file Open would accept.
    virtual FileStamp recoverLeftOver() = 0;
    virtual void discardLeftOver() = 0;
    // Leaves it for a later start.
    virtual void keepLeftOver() = 0;

    // Told once, the first time the journal cannot be written; editing goes on.
    virtual void setFailureHandler(std::function<void(const Failure &)> handler) = 0;
};
