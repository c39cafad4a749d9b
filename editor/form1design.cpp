// The window description: what the runtime builds Form1 from, in the order it creates it.
#include "form1.h"

using namespace Qt::StringLiterals;

FormDesign Form1::design()
{
    FormDesign form;
    form.name = u"Form1"_s;
    form.caption = u"Quorvex"_s;
    form.clientWidth = 13815;
    form.clientHeight = 10020;
    form.load = [this] { Form_Load(); };
    form.shown = [this] { Form_Shown(); };
    form.resize = [this] { Form_Resize(); };
    form.queryUnload = [this](qint16 &cancel) { Form_QueryUnload(cancel); };
    form.fileDrop = [this](const QString &fileName) { Form_DropFile(fileName); };

    form.commonDialogName = u"CommonDialog1"_s;

    TextBoxDesign &text = form.textBox;
    text.name = u"Text1"_s;
    text.multiLine = true;
    text.horizontalScrollBar = true;
    text.verticalScrollBar = true;
    text.left = 120;
    text.top = 480;
    text.width = 13575;
    text.height = 9375;
    text.keyPress = [this](qint16 keyAscii) { Text1_KeyPress(keyAscii); };
    text.userEdit = [this] { Text1_Change(); };

    const auto menu = [&](const QString &name, const QString &caption) {
        form.menus.append({ name, caption, QString(), 0, {} });
    };
    const auto item = [&](const QString &name, const QString &caption, const QString &shortcut,
                          void (Form1::*handler)()) {
        form.menus.append({ name, caption, shortcut, 1, [this, handler] { (this->*handler)(); } });
    };
    const auto check = [&](const QString &name, const QString &caption, void (Form1::*handler)()) {
        item(name, caption, QString(), handler);
        form.menus.last().checkable = true;
    };
    const auto separator = [&](const QString &name) {
        form.menus.append({ name, u"-"_s, QString(), 1, {} });
    };

    menu(u"File"_s, u"&File"_s);
    item(u"File_New"_s, u"&New"_s, u"Ctrl+N"_s, &Form1::File_New_Click);
    separator(u"Sep_File_New_Open"_s);
    item(u"File_Open"_s, u"&Open"_s, u"Ctrl+O"_s, &Form1::File_Open_Click);
    separator(u"Sep_File_Open_Save"_s);
    item(u"File_Save"_s, u"&Save"_s, u"Ctrl+S"_s, &Form1::File_Save_Click);
    item(u"File_Save_As"_s, u"&Save As"_s, QString(), &Form1::File_Save_As_Click);
    separator(u"Sep_File_Save_Exit"_s);
    item(u"File_Exit"_s, u"&Exit"_s, u"Ctrl+E"_s, &Form1::File_Exit_Click);

    menu(u"Edit"_s, u"&Edit"_s);
    item(u"Edit_Copy"_s, u"&Copy"_s, u"Ctrl+C"_s, &Form1::Edit_Copy_Click);
    item(u"Edit_Cut"_s, u"&Cut"_s, u"Ctrl+X"_s, &Form1::Edit_Cut_Click);
    item(u"Edit_Paste"_s, u"&Paste"_s, u"Ctrl+V"_s, &Form1::Edit_Paste_Click);
    separator(u"Sep_Edit_Paste_SelectAll"_s);
    item(u"Edit_SelectAll"_s, u"Select &All"_s, u"Ctrl+A"_s, &Form1::Edit_SelectAll_Click);
    separator(u"Sel_Edit_SelectAll_TextAppearence"_s);
    item(u"Edit_TextAppearence"_s, u"Text Appearance..."_s, QString(),
         &Form1::Edit_TextAppearence_Click);

    menu(u"Search"_s, u"&Search"_s);
    item(u"Search_Find"_s, u"&Find..."_s, u"Ctrl+F"_s, &Form1::Search_Find_Click);
    item(u"Search_FindNext"_s, u"Find &Next"_s, u"F3"_s, &Form1::Search_FindNext_Click);
    item(u"Search_FindPrevious"_s, u"Find &Previous"_s, u"Shift+F3"_s,
         &Form1::Search_FindPrevious_Click);
    item(u"Search_Replace"_s, u"&Replace..."_s, u"Ctrl+H"_s, &Form1::Search_Replace_Click);
    separator(u"Sep_Search_Replace_GoToLine"_s);
    item(u"Search_GoToLine"_s, u"&Go To Line..."_s, u"Ctrl+G"_s, &Form1::Search_GoToLine_Click);

    menu(u"View"_s, u"&View"_s);
    check(u"View_WordWrap"_s, u"&Word Wrap"_s, &Form1::View_WordWrap_Click);
    check(u"View_StatusBar"_s, u"&Status Bar"_s, &Form1::View_StatusBar_Click);

    FindDialogDesign &find = form.findDialog;
    find.name = u"FindReplace"_s;
    find.findNext = [this] { FindReplace_FindNext_Click(); };
    find.replace = [this] { FindReplace_Replace_Click(); };
    find.replaceAll = [this] { FindReplace_ReplaceAll_Click(); };
    find.findAgain = [this] { Search_FindNext_Click(); };
    find.findAgainUp = [this] { Search_FindPrevious_Click(); };

    return form;
}
