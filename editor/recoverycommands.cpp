// What an earlier run left unsaved, offered once the window is shown.
#include "form1.h"

#include "failure.h"

#include <new>

using namespace Qt::StringLiterals;

void Form1::Form_Shown()
{
    // A file a cut-short save left damaged is put back first, so that the text offered below is
    // compared with the file as it will stay.
    const QStringList repaired = Files.recoverInterruptedSaves();
    if (!repaired.isEmpty())
        Prompts.msgBox(repaired.join(u"\r\n\r\n"_s),
                       MessageBoxes::OkOnly + MessageBoxes::Exclamation, AppTitle);
    const std::optional<LeftOverText> leftOver = Journal.findLeftOver();
    if (!leftOver)
        return;
    Answer = Prompts.msgBox(
        u"The text of %1 was not saved when %2 last closed. %3"_s.arg(
            leftOver->path.isEmpty() ? u"a new document"_s : leftOver->path, AppTitle,
            leftOver->complete ? u"Recover it?"_s : u"Recover what could be read?"_s),
        MessageBoxes::YesNoCancel + MessageBoxes::Question, AppTitle);
    if (Answer == MessageBoxes::No) {
        Journal.discardLeftOver();
        return;
    }
    if (Answer != MessageBoxes::Yes) {
        Journal.keepLeftOver();
        return;
    }
    try {
        const JournalFile file = Journal.recoverLeftOver();
        CurrentFile = leftOver->path;
        CurrentFileStamp = file.stamp;
        setFileEncoding(file.encoding);
        TextChanged = true;
        FileSize = Text1.textLength() + 1;
        Me.setCaption(CurrentFile.isEmpty() ? blankCaption() : openedCaption());
    } catch (const Failure &failure) {
        Journal.keepLeftOver();
        reportFailure(failure);
    } catch (const std::bad_alloc &) {
        Journal.keepLeftOver();
        reportFailure(Failure(FailureNumber::OutOfMemory,
                              u"Out of memory: the unsaved text is too large to recover."_s));
    }
}
