#pragma once

#include "finddialog.h"
#include "text.h"

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <memory>

// The multi-line text box. Its text has CR LF between lines, and selection positions and
// lengths count characters of that text. Positions and sizes are in twips; a negative width
// or height is refused with a Failure and the previous value stays.
class TextArea
{
public:
    virtual ~TextArea() = default;

    virtual QString text() const = 0;
    // Setting the text from code is not a user edit and clears the selection.
    virtual void setText(const QString &text) = 0;
    // The length of text(), without building it.
    virtual qsizetype textLength() const = 0;
    // text() in pieces, for work that only passes it on; no piece ends inside a CR LF either.
    virtual void readText(const TextSink &sink) const = 0;
    // The same as UTF-8, straight from where the text is kept.
    virtual void readUtf8(const Utf8Sink &sink) const = 0;
    // The bytes readUtf8() hands over, without reading them.
    virtual qint64 utf8Length() const = 0;

    // A whole new text given in runs as a file is read, never a user edit nor an undo step:
    // beginLoad() empties the text, appendLoaded() adds UTF-8 (line breaks in any form) to its end,
    // keepLoaded() marks everything added so far as whole, and endLoad() drops what came after the
    // last mark and shows the text. A text too long for the positions is refused with a Failure.
    virtual void beginLoad() = 0;
    virtual void appendLoaded(QByteArrayView utf8) = 0;
    virtual void keepLoaded() = 0;
    virtual void endLoad() = 0;

    virtual int left() const = 0;
    virtual int top() const = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual void setLeft(int twips) = 0;
    virtual void setTop(int twips) = 0;
    virtual void setWidth(int twips) = 0;
    virtual void setHeight(int twips) = 0;

    // Positions and lengths are 64-bit: a text may hold more than 2^31 characters.
    virtual qsizetype selStart() const = 0;
    virtual void setSelStart(qsizetype start) = 0;
    virtual qsizetype selLength() const = 0;
    virtual void setSelLength(qsizetype length) = 0;
    virtual QString selText() const = 0;
    // The selected text as it is now, without copying it: later edits leave it as it was.
    virtual std::shared_ptr<const TextSnapshot> selSnapshot() const = 0;
    // Replaces the selection, or inserts at the caret when nothing is selected.
    virtual void setSelText(const QString &text) = 0;
    // The same with a snapshot, which goes in without being decoded when it came from a text area.
    virtual void setSelText(const TextSnapshot &text) = 0;

    // Lines are counted from 0; lineStart is the position of a line's first character.
    virtual qint64 lineCount() const = 0;
    virtual qint64 lineOfPosition(qint64 position) const = 0;
    virtual qint64 lineStart(qint64 line) const = 0;

    // Searches take long on a large text: they may be stopped by the user (Escape).
    enum class SearchOutcome { Found, NotFound, Stopped };
    // Selects the next match after the selection (or the last one before it) and scrolls it
    // into view; with wrap the search goes on from the other end of the text.
    virtual SearchOutcome findNext(const SearchRequest &request, bool up, bool wrap) = 0;
    // When the selection is a match, replaces it ("\1" and the like expanded for a regular
    // expression) and returns true.
    virtual bool replaceSelectedMatch(const SearchRequest &request, const QString &replaceWith) = 0;
    // Replaces every match as one undo step: the number replaced, or -1 when stopped.
    virtual qint64 replaceAll(const SearchRequest &request, const QString &replaceWith) = 0;
    // A short note beside the caret that goes away by itself, with the system beep; it takes
    // neither the focus nor a click.
    virtual void showNote(const QString &note) = 0;

    // Lines wrap at the box's width, with no horizontal scroll bar; off, the box scrolls sideways.
    virtual bool wordWrap() const = 0;
    virtual void setWordWrap(bool on) = 0;

    // Red in the low byte, then green, then blue.
    virtual quint32 foreColor() const = 0;
    virtual void setForeColor(quint32 color) = 0;

    virtual QString fontName() const = 0;
    virtual void setFontName(const QString &name) = 0;
    virtual double fontSize() const = 0;
    virtual void setFontSize(double points) = 0;
    virtual bool fontBold() const = 0;
    virtual void setFontBold(bool on) = 0;
    virtual bool fontItalic() const = 0;
    virtual void setFontItalic(bool on) = 0;
    virtual bool fontStrikethru() const = 0;
    virtual void setFontStrikethru(bool on) = 0;
    virtual bool fontUnderline() const = 0;
    virtual void setFontUnderline(bool on) = 0;
};
