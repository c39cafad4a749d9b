#include "qttextarea.h"

#include "busywork.h"
#include "colorvalue.h"
#include "droppedfile.h"
#include "notice.h"
#include "qttextsnapshot.h"
#include "textsearch.h"

#include "failure.h"
#include "twips.h"

#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

Failure invalidSize()
{
    return Failure(FailureNumber::InvalidProcedureCall,
                   u"Invalid procedure call or argument: a size cannot be negative."_s);
}

TextSearch::Query searchQuery(const SearchRequest &request)
{
    return { request.pattern, request.matchCase, request.wholeWords, request.regularExpression };
}

// Replace All's one bar: the search that gathers the changes, then the walk that makes them. A
// change costs the walk about as much as searching some bytes (measured in bench_search: 300 for
// a plain pattern, 40 for a regular expression, whose search is slower), so the walk's part grows
// with the changes, reckoned while the search runs from those found so far.
class ReplaceShare
{
public:
    static constexpr qint64 Scale = 10'000;

    explicit ReplaceShare(bool expression) : m_walkBytesPerChange(expression ? 40 : 300) { }

    qint64 searched(qint64 done, qint64 total, qint64 changes)
    {
        const double expected = done > 0 ? double(changes) * double(total) / double(done) : 0;
        return shown(double(done), double(total) + expected * m_walkBytesPerChange);
    }
    qint64 walked(qint64 textBytes, qint64 done, qint64 changes)
    {
        return shown(double(textBytes) + double(done) * m_walkBytesPerChange,
                     double(textBytes) + double(changes) * m_walkBytesPerChange);
    }

private:
    // A later guess of the changes to come never takes the bar back.
    qint64 shown(double done, double total)
    {
        if (total > 0)
            m_share = std::max(m_share, qint64(double(Scale) * std::min(1.0, done / total)));
        return m_share;
    }

    double m_walkBytesPerChange;
    qint64 m_share = 0;
};

} // namespace

// Marks changes the program makes itself, so they are not taken for the user's edits.
class QtTextArea::ProgramEdit
{
public:
    explicit ProgramEdit(QtTextArea *area) : m_area(area) { ++m_area->m_programEdits; }
    ~ProgramEdit() { --m_area->m_programEdits; }
    ProgramEdit(const ProgramEdit &) = delete;
    ProgramEdit &operator=(const ProgramEdit &) = delete;

private:
    QtTextArea *m_area;
};

QtTextArea::QtTextArea(QWidget *parent) : TextView(parent)
{
    connect(this, &TextView::edited, this, [this] {
        if (m_programEdits == 0)
            dispatch(m_userEdit);
    });
}

void QtTextArea::applyDesign(const TextBoxDesign &design)
{
    // Unless wrapped, a text box without a horizontal scroll bar still scrolls with the caret.
    setObjectName(design.name);
    setHorizontalScrollBarPolicy(design.horizontalScrollBar ? Qt::ScrollBarAlwaysOn
                                                            : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(design.verticalScrollBar ? Qt::ScrollBarAlwaysOn
                                                        : Qt::ScrollBarAlwaysOff);
    m_keyPress = design.keyPress;
    m_userEdit = design.userEdit;
    m_left = design.left;
    m_top = design.top;
    m_width = design.width;
    m_height = design.height;
    placeInPixels();
}

void QtTextArea::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        TextView::dragEnterEvent(event);
    else
        event->ignore();
}

void QtTextArea::dragMoveEvent(QDragMoveEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        TextView::dragMoveEvent(event);
    else
        event->ignore();
}

void QtTextArea::setMenuShortcuts(const QList<QKeySequence> &shortcuts)
{
    m_menuShortcuts = shortcuts;
}

void QtTextArea::setDispatcher(std::function<void(const std::function<void()> &)> dispatcher)
{
    m_dispatcher = std::move(dispatcher);
}

void QtTextArea::dispatch(const std::function<void()> &handler)
{
    if (!handler)
        return;
    if (m_dispatcher)
        m_dispatcher(handler);
    else
        handler();
}

QString QtTextArea::text() const { return buffer().text(); }

void QtTextArea::setText(const QString &text)
{
    ProgramEdit edit(this);
    TextView::setContents(text);
}

qsizetype QtTextArea::textLength() const { return buffer().length(); }

void QtTextArea::readUtf8(const Utf8Sink &sink) const
{
    buffer().forEachChunk(0, [&sink](QByteArrayView bytes, qint64) {
        sink(bytes);
        return true;
    });
}

// The window takes events while a long Open runs; the text is not laid out until the load
// ends, so the text box shows nothing new until then.
void QtTextArea::beginLoad()
{
    ProgramEdit edit(this);
    TextView::beginLoad();
    setUpdatesEnabled(false);
}

void QtTextArea::appendLoaded(QByteArrayView utf8) { TextView::appendLoaded(utf8); }

void QtTextArea::endLoad()
{
    ProgramEdit edit(this);
    setUpdatesEnabled(true);
    TextView::endLoad();
}

void QtTextArea::setContents(const TextSlice &text)
{
    ProgramEdit edit(this);
    TextView::setContents(text);
}

void QtTextArea::placeInPixels()
{
    const QWidget *measure = parentWidget() ? parentWidget() : this;
    setGeometry(Twips::toPixelsX(measure, m_left), Twips::toPixelsY(measure, m_top),
                Twips::toPixelsX(measure, m_width), Twips::toPixelsY(measure, m_height));
}

void QtTextArea::setLeft(int twips)
{
    m_left = twips;
    placeInPixels();
}

void QtTextArea::setTop(int twips)
{
    m_top = twips;
    placeInPixels();
}

void QtTextArea::setWidth(int twips)
{
    if (twips < 0)
        throw invalidSize();
    m_width = twips;
    placeInPixels();
}

void QtTextArea::setHeight(int twips)
{
    if (twips < 0)
        throw invalidSize();
    m_height = twips;
    placeInPixels();
}

qsizetype QtTextArea::selStart() const { return selectionStart(); }

void QtTextArea::setSelStart(qsizetype start) { setSelection(start, start); }

qsizetype QtTextArea::selLength() const { return selectionEnd() - selectionStart(); }

void QtTextArea::setSelLength(qsizetype length)
{
    const qsizetype start = selectionStart();
    setSelection(start, start + std::max<qsizetype>(0, length));
}

QString QtTextArea::selText() const { return selectedText(); }

void QtTextArea::setSelText(const QString &text)
{
    ProgramEdit edit(this);
    replaceSelection(text);
}

std::shared_ptr<const TextSnapshot> QtTextArea::selSnapshot() const
{
    return std::make_shared<QtTextSnapshot>(selectedSlice());
}

void QtTextArea::setSelText(const TextSnapshot &text)
{
    const TextSlice slice = QtTextSnapshot::sliceOf(text);
    ProgramEdit edit(this);
    replaceSelection(slice);
}

qint64 QtTextArea::lineCount() const { return buffer().lineCount(); }

qint64 QtTextArea::lineOfPosition(qint64 position) const
{
    return buffer().lineAt(qBound<qint64>(0, position, buffer().length()));
}

qint64 QtTextArea::lineStart(qint64 line) const
{
    return buffer().lineStart(qBound<qint64>(0, line, buffer().lineCount() - 1));
}

TextArea::SearchOutcome QtTextArea::findNext(const SearchRequest &request, bool up, bool wrap)
{
    const TextSearch search(searchQuery(request));
    const auto bytes = searchableBytes(buffer());
    const TextSearch::Range selection { bytes->byteOfPosition(selectionStart()),
                                        bytes->byteOfPosition(selectionEnd()) };
    BusyWork work(m_pace);
    const auto result = search.findNext(
        *bytes, selection, up ? TextSearch::Direction::Backward : TextSearch::Direction::Forward,
        wrap, [&work](qint64 done, qint64 total) { return work.keepGoing(done, total); });
    if (result.stopped)
        return SearchOutcome::Stopped;
    if (!result.match.found())
        return SearchOutcome::NotFound;
    setSelection(bytes->positionOfByte(result.match.start),
                 bytes->positionOfByte(result.match.end));
    return SearchOutcome::Found;
}

bool QtTextArea::replaceSelectedMatch(const SearchRequest &request, const QString &replaceWith)
{
    const TextSearch search(searchQuery(request));
    const auto bytes = searchableBytes(buffer());
    const TextSearch::Range selection { bytes->byteOfPosition(selectionStart()),
                                        bytes->byteOfPosition(selectionEnd()) };
    QString replacement;
    if (!search.matchesExactly(*bytes, selection, replaceWith, &replacement))
        return false;
    ProgramEdit edit(this);
    replaceSelection(replacement);
    return true;
}

qint64 QtTextArea::replaceAll(const SearchRequest &request, const QString &replaceWith)
{
    const TextSearch search(searchQuery(request));
    const auto bytes = searchableBytes(buffer());
    const qint64 textBytes = bytes->byteLength();
    qint64 count = 0;
    ProgramEdit edit(this);
    bool complete = false;
    // Escape stops the search; once the replacing has begun, it goes on to the end.
    BusyWork work(m_pace);
    ReplaceShare share(request.regularExpression);
    try {
        complete = rewrite(
            [&](TextBuffer::Rewrite &rewrite) {
                return search.findAll(
                    *bytes, replaceWith,
                    [&](TextSearch::Range match, const QString &replacement) {
                        rewrite.replace(match.start, match.end, replacement);
                        ++count;
                        return true;
                    },
                    [&](qint64 done, qint64 total) {
                        return work.keepGoing(share.searched(done, total, count),
                                              ReplaceShare::Scale);
                    });
            },
            [&](qint64 done, qint64 total) {
                work.keepGoing(share.walked(textBytes, done, total), ReplaceShare::Scale);
            });
    } catch (const TextBuffer::PartialRewrite &) {
        // Memory ran out part way: what was replaced stays, and the document has changed.
        if (m_userEdit)
            m_userEdit();
        throw;
    }
    return complete ? count : -1;
}

void QtTextArea::showNote(const QString &note)
{
    QApplication::beep();
    if (!m_note) {
        m_note = new Notice(this, Qt::ToolTip);
        m_note->setObjectName(u"note"_s);
    }
    // Just below the caret's line, so that it covers neither the caret nor the line being read.
    const QRect caret = caretRect();
    m_note->popUp(note, viewport()->mapToGlobal(QPoint(caret.left(), caret.top() + caret.height())),
                  2500);
}

quint32 QtTextArea::foreColor() const
{
    return ColorValue::fromColor(palette().color(QPalette::Text));
}

void QtTextArea::setForeColor(quint32 color)
{
    QPalette colors = palette();
    colors.setColor(QPalette::Text, ColorValue::toColor(color));
    setPalette(colors);
}

void QtTextArea::changeFont(const std::function<void(QFont &)> &change)
{
    QFont changed = font();
    change(changed);
    setFont(changed);
}

QString QtTextArea::fontName() const { return font().family(); }

void QtTextArea::setFontName(const QString &name)
{
    changeFont([&](QFont &f) { f.setFamily(name); });
}

double QtTextArea::fontSize() const { return font().pointSizeF(); }

void QtTextArea::setFontSize(double points)
{
    if (points <= 0)
        throw Failure(FailureNumber::InvalidProcedureCall,
                      u"Invalid procedure call or argument: a font size must be positive."_s);
    changeFont([&](QFont &f) { f.setPointSizeF(points); });
}

bool QtTextArea::fontBold() const { return font().bold(); }

void QtTextArea::setFontBold(bool on)
{
    changeFont([&](QFont &f) { f.setBold(on); });
}

bool QtTextArea::fontItalic() const { return font().italic(); }

void QtTextArea::setFontItalic(bool on)
{
    changeFont([&](QFont &f) { f.setItalic(on); });
}

bool QtTextArea::fontStrikethru() const { return font().strikeOut(); }

void QtTextArea::setFontStrikethru(bool on)
{
    changeFont([&](QFont &f) { f.setStrikeOut(on); });
}

bool QtTextArea::fontUnderline() const { return font().underline(); }

void QtTextArea::setFontUnderline(bool on)
{
    changeFont([&](QFont &f) { f.setUnderline(on); });
}

int QtTextArea::characterCode(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int key = event->key();
    switch (key) {
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Delete:
        return -1;
    default:
        break;
    }
    if ((modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier) && key >= Qt::Key_A
        && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    const QString text = event->text();
    if (text.isEmpty())
        return -1;
    const char16_t code = text.at(0).unicode();
    if (code < 32 || code == 127)
        return -1;
    return qint16(code);
}

bool QtTextArea::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (m_menuShortcuts.contains(QKeySequence(keyEvent->keyCombination()))) {
            // Leave the key to the menu's shortcut.
            event->ignore();
            return true;
        }
    }
    return TextView::event(event);
}

void QtTextArea::keyPressEvent(QKeyEvent *event)
{
    const int code = characterCode(event);
    if (code >= 0 && m_keyPress)
        dispatch([this, code] { m_keyPress(qint16(code)); });

    TextView::keyPressEvent(event);
}
