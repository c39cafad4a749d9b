// The View menu: how the text box and the window show the document. Nothing here is kept
// between runs.
#include "form1.h"

using namespace Qt::StringLiterals;

void Form1::View_WordWrap_Click()
{
    const bool wrapped = !Me.menuChecked(u"View_WordWrap"_s);
    Me.setMenuChecked(u"View_WordWrap"_s, wrapped);
    Text1.setWordWrap(wrapped);
}

void Form1::View_StatusBar_Click()
{
    const bool shown = !Me.menuChecked(u"View_StatusBar"_s);
    Me.setMenuChecked(u"View_StatusBar"_s, shown);
    Me.setStatusBarVisible(shown);
    Form_Resize();
}
