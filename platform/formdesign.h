#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

// A window described as data: the runtime builds the window from this, in this order, and
// raises the events through the handlers given here.

struct MenuItemDesign
{
    QString name;
    QString caption; // "-" makes a separator; '&' marks the mnemonic
    QString shortcut; // portable key sequence text such as "Ctrl+N"; empty for none
    int level = 0; // 0 for a menu on the bar, 1 for an item of the last menu above it
    std::function<void()> click;
    bool checkable = false; // the item shows a mark, unchecked at first

    bool isSeparator() const { return caption == QStringLiteral("-"); }
};

struct TextBoxDesign
{
    QString name;
    bool multiLine = false;
    bool horizontalScrollBar = false;
    bool verticalScrollBar = false;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    // A character key reaching the text box, with its code; the key then goes on unchanged.
    std::function<void(qint16 keyAscii)> keyPress;
    // The user changed the text through the text box (typing, deleting, undo, drag and drop,
    // its context menu). Changes made by the program do not raise it.
    std::function<void()> userEdit;
};

// The modeless find dialog: its buttons' events.
struct FindDialogDesign
{
    QString name;
    std::function<void()> findNext;
    std::function<void()> replace;
    std::function<void()> replaceAll;
    // F3 and Shift+F3 pressed in the dialog itself: the menu's Find Next and Find Previous.
    std::function<void()> findAgain;
    std::function<void()> findAgainUp;
};

struct FormDesign
{
    QString name;
    QString caption;
    int clientWidth = 0; // twips
    int clientHeight = 0;
    QString commonDialogName;
    TextBoxDesign textBox;
    FindDialogDesign findDialog;
    QList<MenuItemDesign> menus;
    std::function<void()> load;
    // The window has been shown and its first size set.
    std::function<void()> shown;
    std::function<void()> resize;
    // The window is asked to close by the user or the session (not by the program); setting
    // the argument to non-zero keeps it open.
    std::function<void(qint16 &cancel)> queryUnload;
    // A file was dropped on the window (from a file manager, say); raised once the drop is over.
    std::function<void(const QString &fileName)> fileDrop;
};
