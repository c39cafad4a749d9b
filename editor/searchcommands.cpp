// The Search menu and the find dialog's buttons: find, replace and go to a line.
#include "form1.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

void Form1::Search_Find_Click() { showFindReplace(FindDialog::Mode::Find); }

void Form1::Search_Replace_Click() { showFindReplace(FindDialog::Mode::Replace); }

void Form1::showFindReplace(FindDialog::Mode mode)
{
    // A selection within one line is what the user most likely wants to find.
    QString seed;
    if (Text1.selLength() > 0) {
        const QString selected = Text1.selText();
        if (!selected.contains(u'\r') && !selected.contains(u'\n'))
            seed = selected;
    }
    FindReplace.show(mode, seed);
}

void Form1::Search_FindNext_Click()
{
    if (FindReplace.request().pattern.isEmpty())
        showFindReplace(FindDialog::Mode::Find);
    else
        searchFor(FindReplace.request(), false);
}

void Form1::Search_FindPrevious_Click()
{
    if (FindReplace.request().pattern.isEmpty())
        showFindReplace(FindDialog::Mode::Find);
    else
        searchFor(FindReplace.request(), true);
}

void Form1::FindReplace_FindNext_Click() { searchFor(FindReplace.request(), FindReplace.up()); }

void Form1::FindReplace_Replace_Click()
{
    const SearchRequest request = FindReplace.request();
    if (!checkPattern(request))
        return;
    if (Text1.replaceSelectedMatch(request, FindReplace.replaceWith()))
        TextChanged = true;
    searchFor(request, FindReplace.up());
}

void Form1::FindReplace_ReplaceAll_Click()
{
    const SearchRequest request = FindReplace.request();
    if (!checkPattern(request))
        return;
    const qint64 count = Text1.replaceAll(request, FindReplace.replaceWith());
    if (count < 0) {
        FindReplace.setMessage(u"Search stopped"_s);
        return;
    }
    if (count > 0)
        TextChanged = true;
    FindReplace.setMessage(QString::number(count)
                           + (count == 1 ? u" replacement"_s : u" replacements"_s));
}

bool Form1::checkPattern(const SearchRequest &request)
{
    if (request.pattern.isEmpty())
        return false;
    if (request.regularExpression) {
        const QRegularExpression expression(request.pattern);
        if (!expression.isValid()) {
            FindReplace.setMessage(u"Invalid regular expression at position "_s
                                   + QString::number(expression.patternErrorOffset()) + u": "_s
                                   + expression.errorString());
            return false;
        }
    }
    return true;
}

void Form1::searchFor(const SearchRequest &request, bool up)
{
    if (!checkPattern(request))
        return;
    switch (Text1.findNext(request, up, FindReplace.wrapAround())) {
    case TextArea::SearchOutcome::Found:
        FindReplace.setMessage(QString());
        break;
    case TextArea::SearchOutcome::NotFound:
        reportSearch(u"Not found"_s);
        break;
    case TextArea::SearchOutcome::Stopped:
        reportSearch(u"Search stopped"_s);
        break;
    }
}

// F3 searches with the dialog hidden: its line would go unseen, so the note goes to the caret.
void Form1::reportSearch(const QString &message)
{
    FindReplace.setMessage(message);
    if (!FindReplace.isVisible())
        Text1.showNote(message);
}

void Form1::Search_GoToLine_Click()
{
    qint64 line = Text1.lineOfPosition(Text1.selStart()) + 1;
    if (!Numbers.askNumber(u"Go To Line"_s, u"Line number:"_s, 1, Text1.lineCount(), line))
        return;
    Text1.setSelStart(Text1.lineStart(qBound<qint64>(1, line, Text1.lineCount()) - 1));
}
