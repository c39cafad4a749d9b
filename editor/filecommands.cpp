// The File menu: Open, Save, Save As, New and Exit.
#include "form1.h"

#include "documentfile.h"
#include "failure.h"
#include "text.h"

#include <new>

using namespace Qt::StringLiterals;

namespace {

const QString DocumentFilter = u"Text Documents (*.txt) | *.txt"_s;

// Shows the busy pointer for as long as it lives, whichever way the scope is left.
class BusyPointer
{
public:
    explicit BusyPointer(ScreenPointer &screen) : m_screen(screen)
    {
        m_screen.setMousePointer(ScreenPointer::Hourglass);
    }
    ~BusyPointer() { m_screen.setMousePointer(ScreenPointer::Default); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;

private:
    ScreenPointer &m_screen;
};

Failure outOfMemory()
{
    return Failure(FailureNumber::OutOfMemory, u"Out of memory: the file is too large to open."_s);
}

Failure outOfMemoryWhileSaving(const QString &fileName)
{
    return Failure(
        FailureNumber::OutOfMemory,
        u"Out of memory: %1 could not be written. The file on disk was not changed."_s.arg(
            fileName));
}

} // namespace

// The failure path of Open: the file is given back, so repeated failures never use up the
// numbers, and the user is told. Once reading has begun the text area no longer holds the
// earlier document (the user agreed to drop it, or it was saved), so it must not be saved
// under that file's name: the partial text belongs to no file and is not a change of the user's.
void Form1::abandonOpen(const Failure &failure, bool readingBegun)
{
    if (Files.isOpen(FileNumber))
        Files.close(FileNumber);
    if (readingBegun) {
        CurrentFile.clear();
        CurrentFileStamp = {};
        setFileEncoding(TextEncoding::Utf8);
        TextChanged = false;
        Journal.settle(CurrentFile, { CurrentFileStamp, FileEncoding });
    }
    reportFailure(failure);
}

void Form1::File_Open_Click()
{
    if (TextChanged && !confirmDiscard())
        return;

    CommonDialog1.setFilter(DocumentFilter);
    CommonDialog1.setDialogTitle(u"Open a file (*.txt)"_s);
    CommonDialog1.showOpen();
    const QString fileName = CommonDialog1.fileName();
    if (trimSpaces(fileName).isEmpty())
        return;
    openFile(fileName);
}

void Form1::Form_DropFile(const QString &fileName)
{
    if (TextChanged && !confirmDiscard())
        return;
    openFile(fileName);
}

// The reading of Open, once the user has agreed to drop the changes and chosen the file.
void Form1::openFile(const QString &fileName)
{
    // Taken before reading, so that a change made meanwhile shows as one.
    const FileStamp stamp = Files.fileStamp(fileName);
    bool readingBegun = false;
    try {
        FileNumber = Files.freeFile();
        Files.openForInput(fileName, FileNumber);
        readingBegun = true;
        // The user agreed to lose the changes, or had none: what is read needs no journal.
        Journal.settle(QString(), {});
        FileSize = 0;
        Text1.setText(QString());
        Me.setCaption(readingCaption(fileName));
        {
            BusyPointer busy(Screen);
            // The items come in stretches as the file is read: each item, a line break, and
            // FileSize counting the item's characters and one more. On a failure the text box
            // keeps every whole item read before it.
            Text1.beginLoad();
            try {
                Files.readAllItems(FileNumber, NewLine, [this](const ItemRun &run) {
                    if (run.restarted) {
                        Text1.beginLoad();
                        FileSize = 0;
                    }
                    Text1.appendLoaded(run.text);
                    if (run.items > 0)
                        Text1.keepLoaded();
                    FileSize += run.characters + run.items;
                });
            } catch (...) {
                Text1.endLoad();
                throw;
            }
            Text1.endLoad();
            setFileEncoding(Files.encoding(FileNumber));
            Files.close(FileNumber);
        }
        CurrentFile = fileName;
        CurrentFileStamp = stamp;
        Me.setCaption(openedCaption());
        TextChanged = false;
        Journal.settle(CurrentFile, { CurrentFileStamp, FileEncoding });
    } catch (const Failure &failure) {
        abandonOpen(failure, readingBegun);
    } catch (const std::bad_alloc &) {
        abandonOpen(outOfMemory(), readingBegun);
    }
}

// The text box's text, handed over in pieces: a large document is never held a second time,
// neither as one string nor as the file's bytes.
TextSource Form1::documentText()
{
    TextSource text { [this](const TextSink &sink) { Text1.readText(sink); },
                      [this](const Utf8Sink &sink) { Text1.readUtf8(sink); } };
    text.length = Text1.textLength();
    text.utf8Length = Text1.utf8Length();
    return text;
}

void Form1::saveDocument(TextEncoding encoding)
{
    FileNumber = Files.freeFile();
    writeDocument(Files, FileNumber, CurrentFile, documentText(), encoding);
    setFileEncoding(encoding);
    CurrentFileStamp = Files.fileStamp(CurrentFile);
    FileSize = Text1.textLength() + 1;
    Me.setCaption(savedCaption());
    TextChanged = false;
    Journal.settle(CurrentFile, { CurrentFileStamp, FileEncoding });
}

// Writes under the given name, in the document's encoding or, if the user agrees, in UTF-8 where
// that encoding cannot store the text; when that fails, or the user would rather keep another
// program's changes to the file or its encoding, the document keeps its name and its changes.
void Form1::storeAs(const QString &fileName)
{
    if (fileName == CurrentFile && changedOnDisk() && !confirmReplaceChanged())
        return;
    TextEncoding encoding = FileEncoding;
    if (!Files.canStore(encoding, documentText())) {
        if (!confirmUtf8(fileName))
            return;
        encoding = TextEncoding::Utf8;
    }
    // A failed save that wrote over the file puts the old bytes back, which changes its times:
    // it is still the version this program knows, not another program's change.
    const bool knownOnDisk = fileName == CurrentFile && CurrentFileStamp.exists
        && Files.fileStamp(fileName) == CurrentFileStamp;
    const QString previousFile = CurrentFile;
    const auto failed = [&](const Failure &failure) {
        CurrentFile = previousFile;
        if (knownOnDisk)
            CurrentFileStamp = Files.fileStamp(CurrentFile);
        reportFailure(failure);
    };
    CurrentFile = fileName;
    try {
        saveDocument(encoding);
    } catch (const Failure &failure) {
        failed(failure);
    } catch (const std::bad_alloc &) {
        failed(outOfMemoryWhileSaving(fileName));
    }
}

void Form1::File_Save_Click()
{
    if (CurrentFile.isEmpty()) {
        CommonDialog1.setFilter(DocumentFilter);
        CommonDialog1.setDialogTitle(u"Save"_s);
        CommonDialog1.showSave();
        const QString fileName = CommonDialog1.fileName();
        if (trimSpaces(fileName).isEmpty())
            return;
        if (!TextChanged) {
            CurrentFile = fileName;
            Journal.setFile(CurrentFile, { CurrentFileStamp, FileEncoding });
            return;
        }
        storeAs(fileName);
        return;
    }
    if (TextChanged)
        storeAs(CurrentFile);
}

void Form1::File_Save_As_Click()
{
    CommonDialog1.setFilter(DocumentFilter);
    CommonDialog1.setDialogTitle(u"Save As"_s);
    CommonDialog1.showSave();
    const QString fileName = CommonDialog1.fileName();
    if (trimSpaces(fileName).isEmpty())
        return;
    storeAs(fileName);
}

void Form1::File_New_Click()
{
    if (TextChanged) {
        File_Save_Click();
        // The save may have been cancelled or have failed: never drop changes unasked.
        if (TextChanged && !confirmDiscard())
            return;
    }
    ResetDocument();
}

void Form1::File_Exit_Click()
{
    if (TextChanged) {
        File_Save_Click();
        if (TextChanged && !confirmDiscard())
            return;
    }
    Me.endProgram();
}
