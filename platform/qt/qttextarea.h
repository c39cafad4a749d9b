#pragma once

#include "busywork.h"
#include "formdesign.h"
#include "textarea.h"
#include "textview.h"

#include <QKeySequence>
#include <QList>

#include <functional>

class Notice;

// The text box, on TextView, which holds the text in the CR LF form the editor sees, so text and
// positions pass through unchanged.
class QtTextArea : public TextView, public TextArea
{
    Q_OBJECT

public:
    explicit QtTextArea(QWidget *parent = nullptr);

    void applyDesign(const TextBoxDesign &design);
    // Keys that belong to the menus: the text box must not claim them for itself.
    void setMenuShortcuts(const QList<QKeySequence> &shortcuts);
    // Runs the key and edit events through the window's dispatcher.
    void setDispatcher(std::function<void(const std::function<void()> &)> dispatcher);

    QString text() const override;
    void setText(const QString &text) override;
    qsizetype textLength() const override;
    void readText(const TextSink &sink) const override { buffer().readText(sink); }
    qint64 utf8Length() const override { return buffer().byteLength(); }
    void readUtf8(const Utf8Sink &sink) const override;
    void beginLoad() override;
    void appendLoaded(QByteArrayView utf8) override;
    void keepLoaded() override { TextView::keepLoaded(); }
    void endLoad() override;
    // A whole new text made elsewhere (a recovered one), set as a change of the program's.
    void setContents(const TextSlice &text);

    int left() const override { return m_left; }
    int top() const override { return m_top; }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    void setLeft(int twips) override;
    void setTop(int twips) override;
    void setWidth(int twips) override;
    void setHeight(int twips) override;

    qsizetype selStart() const override;
    void setSelStart(qsizetype start) override;
    qsizetype selLength() const override;
    void setSelLength(qsizetype length) override;
    QString selText() const override;
    std::shared_ptr<const TextSnapshot> selSnapshot() const override;
    void setSelText(const QString &text) override;
    void setSelText(const TextSnapshot &text) override;

    qint64 lineCount() const override;
    qint64 lineOfPosition(qint64 position) const override;
    qint64 lineStart(qint64 line) const override;
    SearchOutcome findNext(const SearchRequest &request, bool up, bool wrap) override;
    bool replaceSelectedMatch(const SearchRequest &request, const QString &replaceWith) override;
    qint64 replaceAll(const SearchRequest &request, const QString &replaceWith) override;
    // How long searches and Replace All run before they show the busy pointer and their share.
    void setPace(BusyWork::Pace pace) { m_pace = pace; }
    void showNote(const QString &note) override;

    bool wordWrap() const override { return TextView::wordWrap(); }
    void setWordWrap(bool on) override { TextView::setWordWrap(on); }

    quint32 foreColor() const override;
    void setForeColor(quint32 color) override;

    QString fontName() const override;
    void setFontName(const QString &name) override;
    double fontSize() const override;
    void setFontSize(double points) override;
    bool fontBold() const override;
    void setFontBold(bool on) override;
    bool fontItalic() const override;
    void setFontItalic(bool on) override;
    bool fontStrikethru() const override;
    void setFontStrikethru(bool on) override;
    bool fontUnderline() const override;
    void setFontUnderline(bool on) override;

    // The character code a key produces in the text box, or -1 when it produces none.
    static int characterCode(const QKeyEvent *event);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // A file dragged here is the window's to open, not text to insert: declined, it goes to the
    // window, and so does its drop.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void runUserAction(const std::function<void()> &action) override { dispatch(action); }

private:
    class ProgramEdit;

    void placeInPixels();
    void changeFont(const std::function<void(QFont &)> &change);
    void dispatch(const std::function<void()> &handler);

    std::function<void(qint16)> m_keyPress;
    std::function<void()> m_userEdit;
    std::function<void(const std::function<void()> &)> m_dispatcher;
    QList<QKeySequence> m_menuShortcuts;
    Notice *m_note = nullptr;
    BusyWork::Pace m_pace;
    int m_programEdits = 0;
    int m_left = 0;
    int m_top = 0;
    int m_width = 0;
    int m_height = 0;
};
