#include "form1.h"

#include "failure.h"
#include "text.h"

using namespace Qt::StringLiterals;

Form1::Form1(const FormServices &services)
    : Me(services.window), Text1(services.textBox), CommonDialog1(services.commonDialog),
      ClipboardService(services.clipboard), Screen(services.screen), Prompts(services.messageBoxes),
      Files(services.files), FindReplace(services.findDialog), Numbers(services.numberInput),
      Journal(services.journal)
{
}

void Form1::Form_Load()
{
    AppTitle = Me.caption();
    NewLine = chr(13) + chr(10);
    // Typing goes on when the journal cannot be written; the user is told once.
    Journal.setFailureHandler([this](const Failure &failure) { reportFailure(failure); });
    ResetDocument();
}

void Form1::ResetDocument()
{
    Text1.setText(QString());
    Me.setCaption(blankCaption());
    CurrentFile.clear();
    CurrentFileStamp = {};
    setFileEncoding(TextEncoding::Utf8);
    TextChanged = false;
    Journal.settle(CurrentFile, { CurrentFileStamp, FileEncoding });
}

void Form1::setFileEncoding(TextEncoding encoding)
{
    FileEncoding = encoding;
    Me.setStatusEncoding(encodingName(encoding));
}

void Form1::Form_Resize()
{
    // Each statement may be refused (a window too small for a positive size); the rest still run.
    const auto attempt = [](auto &&statement) {
        try {
            statement();
        } catch (const Failure &) {
        }
    };
    attempt([&] { Text1.setLeft(50); });
    attempt([&] { Text1.setTop(50); });
    attempt([&] { Text1.setWidth(Me.width() - 250); });
    // The status bar takes the bottom of the window; the text box ends above it.
    attempt([&] {
        Text1.setHeight(Me.statusBarVisible() ? Me.clientHeight() - 50 : Me.height() - 950);
    });
}

void Form1::Text1_KeyPress(qint16 KeyAscii)
{
    Q_UNUSED(KeyAscii);
    if (!TextChanged)
        TextChanged = true;
}

void Form1::Text1_Change() { TextChanged = true; }

void Form1::Form_QueryUnload(qint16 &Cancel)
{
    if (TextChanged && !confirmDiscard())
        Cancel = 1;
}

bool Form1::confirmDiscard()
{
    Answer = Prompts.msgBox(
        u"Discard changes done ?"_s,
        MessageBoxes::YesNo + MessageBoxes::Question + MessageBoxes::DefaultButton2, AppTitle);
    return Answer != MessageBoxes::No;
}

// Another program wrote CurrentFile since this one last read or wrote it. A file that is gone
// is simply written again.
bool Form1::changedOnDisk()
{
    if (!CurrentFileStamp.exists)
        return false;
    const FileStamp now = Files.fileStamp(CurrentFile);
    return now.exists && now != CurrentFileStamp;
}

bool Form1::confirmReplaceChanged()
{
    Answer = Prompts.msgBox(
        CurrentFile
            + u" was changed by another program since it was opened. Replace it with this text?"_s,
        MessageBoxes::YesNo + MessageBoxes::Exclamation + MessageBoxes::DefaultButton2, AppTitle);
    return Answer == MessageBoxes::Yes;
}

bool Form1::confirmUtf8(const QString &fileName)
{
    Answer = Prompts.msgBox(
        fileName + u" holds characters that "_s + encodingName(FileEncoding)
            + u" cannot store. Save it as UTF-8?"_s,
        MessageBoxes::YesNo + MessageBoxes::Exclamation + MessageBoxes::DefaultButton2, AppTitle);
    return Answer == MessageBoxes::Yes;
}

void Form1::reportFailure(const Failure &failure)
{
    Prompts.msgBox(failure.description(), MessageBoxes::Information,
                   QString::number(failure.number()));
}

QString Form1::blankCaption() const { return AppTitle + u" - Blank.txt"_s; }

QString Form1::readingCaption(const QString &fileName) const
{
    return AppTitle + u" : Reading the file "_s + fileName + u"..."_s;
}

QString Form1::openedCaption() const
{
    return AppTitle + u" - "_s + CurrentFile + u" FileSize : "_s + QString::number(FileSize)
        + u" Bytes ]"_s;
}

QString Form1::savedCaption() const
{
    return AppTitle + u" - "_s + CurrentFile + u" File Size : "_s + QString::number(FileSize)
        + u" Bytes ]"_s;
}
