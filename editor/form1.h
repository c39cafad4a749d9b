#pragma once

#include "formdesign.h"
#include "formservices.h"

#include <QString>
#include <QtGlobal>

// The program's only window: one document, its state, and the handlers of its commands.
class Form1
{
public:
    explicit Form1(const FormServices &services);

    // The window description the runtime builds this window from, with the handlers bound.
    FormDesign design();

    void Form_Load();
    // Offers the text an earlier run left unsaved when it ended without closing.
    void Form_Shown();
    void Form_Resize();
    void Text1_KeyPress(qint16 KeyAscii);
    void File_Open_Click();
    // A file dropped on the window: opened as File > Open opens the file chosen in its dialog.
    void Form_DropFile(const QString &fileName);
    void File_Save_Click();
    void File_Save_As_Click();
    void File_New_Click();
    void File_Exit_Click();
    void Edit_Copy_Click();
    void Edit_Cut_Click();
    void Edit_Paste_Click();
    void Edit_SelectAll_Click();
    void Edit_TextAppearence_Click();
    void Search_Find_Click();
    void Search_FindNext_Click();
    void Search_FindPrevious_Click();
    void Search_Replace_Click();
    void Search_GoToLine_Click();
    void View_WordWrap_Click();
    void View_StatusBar_Click();
    void FindReplace_FindNext_Click();
    void FindReplace_Replace_Click();
    void FindReplace_ReplaceAll_Click();
    // The user edited the text by other means than a character key.
    void Text1_Change();
    // The window is about to close from its title bar or the session; Cancel keeps it open.
    void Form_QueryUnload(qint16 &Cancel);

    // Read-only views of the document state, for the runtime and for tests.
    QString appTitle() const { return AppTitle; }
    QString currentFile() const { return CurrentFile; }
    bool textChanged() const { return TextChanged; }
    qint64 fileSize() const { return FileSize; }
    TextEncoding fileEncoding() const { return FileEncoding; }

private:
    void ResetDocument();
    // How the document's file stores its text, which the status bar tells too.
    void setFileEncoding(TextEncoding encoding);
    void saveDocument(TextEncoding encoding);
    void storeAs(const QString &fileName);
    TextSource documentText();
    bool confirmUtf8(const QString &fileName);
    bool confirmDiscard();
    bool changedOnDisk();
    bool confirmReplaceChanged();
    void reportFailure(const class Failure &failure);
    void openFile(const QString &fileName);
    void abandonOpen(const Failure &failure, bool readingBegun);
    void showFindReplace(FindDialog::Mode mode);
    void searchFor(const SearchRequest &request, bool up);
    void reportSearch(const QString &message);
    bool checkPattern(const SearchRequest &request);

    QString blankCaption() const;
    QString readingCaption(const QString &fileName) const;
    QString openedCaption() const;
    QString savedCaption() const;

    QString AppTitle;
    QString CurrentFile;
    bool TextChanged = false;
    int Answer = 0;
    qint16 FileNumber = 0;
    QString NewLine;
    qint64 FileSize = 0;
    // CurrentFile as this program last read or wrote it.
    FileStamp CurrentFileStamp;
    // How the document's file stores its text; UTF-8 for a document of no file.
    TextEncoding FileEncoding = TextEncoding::Utf8;

    Window &Me;
    TextArea &Text1;
    CommonDialog &CommonDialog1;
    Clipboard &ClipboardService;
    ScreenPointer &Screen;
    MessageBoxes &Prompts;
    SequentialFiles &Files;
    FindDialog &FindReplace;
    NumberInput &Numbers;
    RecoveryJournal &Journal;
};
