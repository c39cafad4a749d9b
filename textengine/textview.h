#pragma once

#include "atspitextchange.h"
#include "clustercount.h"
#include "layoutcache.h"
#include "textbuffer.h"
#include "visualrows.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QImage>
#include <QPoint>
#include <QTextLayout>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QAccessibleEvent;
class QMenu;
class QMimeData;
class QPainter;

// A plain-text editing widget for texts of any size: the text lives in a TextBuffer, and only
// the lines on screen are laid out and painted. Lines wrap only when asked (setWordWrap). A very
// long line is laid out in chunks cut between words, only the ones on screen, so typing in a
// line of millions of characters costs no more than typing in a short one.
//
// Positions are those of the buffer: the text has CR LF between lines, and a position never
// falls between the CR and the LF.
class TextView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TextView(QWidget *parent = nullptr);
    ~TextView() override;

    const TextBuffer &buffer() const { return m_buffer; }
    // Every change of the text, whoever makes it, exactly as the storage makes it.
    void setChangeListener(TextChangeListener listener) { m_changeListener = std::move(listener); }

    // Replaces the whole text, puts the caret at its start and forgets the undo history.
    void setContents(const QString &text);
    void setContents(const TextSlice &text);
    // The same for a text given in runs as it is read: beginLoad() empties the text, appendLoaded()
    // adds to it (TextBuffer::appendLoaded), keepLoaded() marks what is there as whole, and
    // endLoad() drops what came after the last mark and shows the text.
    void beginLoad();
    void appendLoaded(QByteArrayView utf8) { m_buffer.appendLoaded(utf8); }
    void keepLoaded() { m_loadKept = m_buffer.length(); }
    void endLoad();

    qsizetype caretPosition() const { return m_caret; }
    qsizetype anchorPosition() const { return m_anchor; }
    qsizetype selectionStart() const { return std::min(m_caret, m_anchor); }
    qsizetype selectionEnd() const { return std::max(m_caret, m_anchor); }
    bool hasSelection() const { return m_caret != m_anchor; }
    QString selectedText() const;
    // The selection as it is now, kept whatever is edited later; nothing is copied or decoded.
    TextSlice selectedSlice() const;
    // Selects from anchor to caret (in either order) and scrolls the caret into view.
    void setSelection(qsizetype anchor, qsizetype caret);
    // Replaces the selection (or inserts at the caret); the caret ends after the new text.
    void replaceSelection(const QString &text);
    void replaceSelection(const TextSlice &text);

    // Replaces the ranges fill() hands to the rewrite (TextBuffer::Rewrite) as one undo step;
    // the caret goes to the first change. When fill() returns false or throws, nothing changes;
    // when memory runs out while the ranges are replaced, TextBuffer::PartialRewrite follows the
    // part that was done.
    // The text is made a slice at a time; betweenSlices is called after each, with the view
    // following the text made so far and how many of the changes are done.
    bool rewrite(const std::function<bool(TextBuffer::Rewrite &)> &fill,
                 const std::function<void(qint64 done, qint64 total)> &betweenSlices = {});

    void undo();
    void redo();
    void cut();
    void copy();
    void paste();
    void deleteSelection();
    void selectAll();

    // Where the caret is drawn, in viewport coordinates.
    QRect caretRect() const;
    // The position under a point of the viewport.
    qsizetype positionAt(const QPoint &point) const;
    // The position of a line and column, for tests and the accessibility interface.
    QRect characterRect(qsizetype position) const;

    // Lines wrap at the view's width, at word boundaries, with no horizontal scrolling; the
    // vertical scroll bar counts rows of the screen. The text at the top stays when it changes.
    void setWordWrap(bool on);
    bool wordWrap() const { return m_wrap; }

    // Where a long line is cut into the pieces it is laid out in, for tests.
    std::vector<qsizetype> pieceStarts(qsizetype line) const;

    // Where the caret stands as a reader counts: line and column from 1, the column in what the
    // user sees as characters (ClusterCounter).
    struct CaretPlace
    {
        qsizetype line = 1;
        qsizetype column = 1;
    };
    CaretPlace caretPlace() const;
    // What the user sees as characters between two positions, a piece at a time (ClusterCounter).
    ClusterCounter::Progress countClusters(qsizetype from, qsizetype to, qsizetype budget) const
    {
        return m_clusters.count(from, to, budget);
    }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

Q_SIGNALS:
    // The text changed, whoever changed it.
    void edited(qsizetype position, qsizetype removed, qsizetype added);
    void caretMoved();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void changeEvent(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

    // The context menu with its edit actions; a subclass may add to it.
    virtual QMenu *createContextMenu();
    // Runs what the user started in the view itself (keys, input methods, the context menu,
    // pastes with the mouse, drops); a subclass may report its failures its own way.
    virtual void runUserAction(const std::function<void()> &action) { action(); }
    // Whether assistive tools listen, and the way their news goes out; a change longer than an
    // event should carry is told by its extent and the start of its text.
    virtual bool accessibilityActive() const;
    virtual void announce(QAccessibleEvent *event);
    virtual void announceLongChange(AccessibleTextChange change, int offset, int length,
                                    const QString &start);

private:
    friend class TextViewAccessible;
    enum class Move { Keep, Select };
    // Lines longer than this are laid out in pieces of about this many characters.
    static constexpr qsizetype ChunkLength = 1024;
    // Unwrapped, a screen shows the start of each line: a short first piece is shaped quickly.
    qsizetype firstPieceLength() const { return m_wrap ? ChunkLength : ChunkLength / 4; }
    // Lines up to this long are one piece.
    qsizetype onePieceLength() const { return firstPieceLength() * 3 / 2; }
    static constexpr int TopMargin = 2;

    struct Chunk
    {
        qsizetype start; // column in the line
        qsizetype length;
    };

    // Editing
    void edit(qsizetype position, qsizetype count, const TextSlice &text,
              TextBuffer::Merge merge = TextBuffer::Merge::Never);
    void edit(qsizetype position, qsizetype count, const QString &text,
              TextBuffer::Merge merge = TextBuffer::Merge::Never)
    {
        edit(position, count, TextSlice(text), merge);
    }
    void typeText(const QString &text);
    void afterEdit(qsizetype position, qsizetype removed, qsizetype added, qsizetype linesBefore);
    void historyStep(TextBuffer::Span (TextBuffer::*step)());
    void afterHistoryStep(const TextBuffer::Span &span, qsizetype lengthBefore,
                          qsizetype linesBefore);
    void noteChange(const TextChange &change);
    void moveCaret(qsizetype position, Move move);
    bool handleNavigation(QKeyEvent *event);
    bool handleEditing(QKeyEvent *event);
    static bool isNavigationOrEditKey(QKeyEvent *event);

    // Geometry of lines and chunks. A line is looked up once per call into its pieces, and
    // every piece index is checked against them.
    struct LinePieces
    {
        qsizetype line = 0;
        qsizetype start = 0; // position of the line's first character
        qsizetype length = 0;
        qsizetype count = 1;
        // The paragraph's direction, from its first strong character.
        bool rightToLeft = false;
        // Where the pieces of a long line start and what was measured of them; null for a line
        // of one piece.
        LayoutCache::PieceList *list = nullptr;
    };
    LinePieces piecesOf(qsizetype line) const;
    static qsizetype checkedIndex(const LinePieces &pieces, qsizetype index);
    Chunk chunk(const LinePieces &pieces, qsizetype index) const;
    // Cuts of the columns from..to of a long line into pieces: their starts, the first at from.
    std::vector<qsizetype> cutRegion(const LinePieces &pieces, qsizetype from, qsizetype to) const;
    qsizetype cutNear(const LinePieces &pieces, qsizetype low, qsizetype nominal) const;
    // What an edit leaves of the pieces of the lines it replaced, and the cuts of what it put
    // between them.
    LayoutCache::Kept keptPieces(qsizetype first, qsizetype oldLast, qsizetype newLast,
                                 qsizetype position, qsizetype added) const;
    void cutGap(qsizetype line) const;
    qsizetype chunkIndexOf(const LinePieces &pieces, qsizetype column) const;
    qsizetype graphemeEdge(const LinePieces &pieces, qsizetype column) const;
    qreal chunkX(const LinePieces &pieces, qsizetype index) const;
    // Where a piece's left edge is drawn: pieces follow their paragraph's direction, and a
    // right-to-left paragraph ends at the right side of the text.
    qreal pieceLeft(const LinePieces &pieces, qsizetype index) const;
    qreal textWidth() const;
    qreal chunkWidth(const LinePieces &pieces, qsizetype index) const;
    QTextLayout *layoutFor(const LinePieces &pieces, qsizetype index) const;
    // Layouts and measures go, the cuts of long lines stay: a new width, font or wrapping.
    void forgetAllLayouts();
    qreal xOfPosition(qsizetype position) const;
    // With wrapping: rows of pieces and lines (measured when laid out, estimated before), the
    // row of a position among all rows, and the position in a row nearest to x.
    qsizetype pieceRows(const LinePieces &pieces, qsizetype index) const;
    qsizetype rowsBeforePiece(const LinePieces &pieces, qsizetype index) const;
    // The piece holding a row of its line.
    qsizetype pieceOfRow(const LinePieces &pieces, qsizetype row) const;
    qsizetype lineRows(const LinePieces &pieces) const;
    void noteRows(qsizetype line, qsizetype rows) const;
    qsizetype rowOfPosition(qsizetype position) const;
    QTextLine textLineOf(qsizetype position, qsizetype *rowInLine = nullptr) const;
    qsizetype positionInRow(qsizetype row, qreal x) const;
    // The first and last caret places of the row holding position: where Home and End go, and
    // the line assistive tools read, as in QPlainTextEdit.
    std::pair<qsizetype, qsizetype> rowBounds(qsizetype position) const;
    // The first position of the top row, kept while the rows are counted again.
    qsizetype topPosition() const;
    void showFromTop(qsizetype position);
    void forgetRows();
    void measureScreenAbove(qsizetype position) const;
    void measureRows(qsizetype position, qsizetype rows) const;
    void recountRows(qsizetype first, qsizetype last) const;
    void layOutAhead();
    void rewrap(const std::function<void()> &change);
    int yOfPosition(qsizetype position) const;
    qsizetype positionInLine(qsizetype line, qreal x) const;
    int lineHeight() const { return m_lineHeight; }
    int visibleLines() const;
    int topLine() const;
    int leftOffset() const;

    // Moves used by the keys
    qsizetype nextCharacter(qsizetype position) const;
    qsizetype previousCharacter(qsizetype position) const;
    qsizetype backspaceStart(qsizetype position) const;
    qsizetype nextWord(qsizetype position) const;
    qsizetype previousWord(qsizetype position) const;
    // The run of word characters, spaces or other characters at a position, within its line.
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position) const;
    qsizetype lineMove(qsizetype position, qsizetype lines);
    void selectWordAt(qsizetype position);

    void showNewContents(qsizetype oldLength);
    void updateMetrics();
    void updateScrollBars();
    void ensureCaretVisible();
    void restartBlink();
    void updateCaret();
    void autoScroll();
    void startDrag();
    QMimeData *selectionMimeData() const;
    void notifyAccessibility(qsizetype position, qsizetype removed, qsizetype added);

    // Repainting what changed. A move repaints the rows between the selection the screen shows
    // (once the repaint asked for is done) and the new one; an edit the rows it changed.
    // Draws the rows within area (and the glyphs of their neighbours reaching into it) of the
    // screen whose top row is topRow, with or without the caret.
    void paintArea(QPainter &painter, const QRect &area, int topRow, bool withCaret);
    // Unwrapped, the pieces of a line that show between two distances from the text's left edge,
    // laid out, each with its distance from that edge.
    void forShownPieces(const LinePieces &pieces, qreal visibleLeft, qreal visibleRight,
                        const std::function<void(const LinePieces &, qsizetype, QTextLayout *,
                                                 qreal)> &shown) const;
    QRect rowsBand(qsizetype from, qsizetype to) const;
    void repaintAll();
    // The selection and caret as they are now are what the screen shows, or will once the
    // repaint asked for is done.
    void markShown()
    {
        m_shownAnchor = m_anchor;
        m_shownCaret = m_caret;
    }
    // After a move.
    void repaintMarks();
    // Before the text changes, and at the end of afterEdit() with what it knows of the edit.
    void beginEditRepaint();
    void repaintEdit(qsizetype position, qsizetype delta, qsizetype oldRows, quint64 serial);
    // The screen below drawn ahead between frames, and drawn from that picture when it shows.
    struct DrawnState
    {
        quint64 layoutChanges = 0;
        QSize size;
        qint64 palette = 0;
        QString font;
        bool wrap = false;
        int left = 0;
        bool operator==(const DrawnState &) const = default;
    };
    DrawnState drawnState() const;
    void drawAhead();
    bool drawFromAhead(QPainter &painter);
    // The rows an edit changed, and the rows below them that moved, as pixels to move.
    struct EditedRows
    {
        QRect changed;
        int movedFrom = 0; // the screen from there down moves by `moved` pixels
        int moved = 0;
    };
    EditedRows editedRows(qsizetype position, qsizetype delta, qsizetype oldRows,
                          quint64 serial) const;

    TextBuffer m_buffer;
    TextChangeListener m_changeListener;
    // What an undo or redo step changed, gathered from its changes as they are told: the
    // units before `first` and the last `tail` ones were left alone, so that only the lines
    // between are laid out again.
    struct StepExtent
    {
        bool gathering = false;
        bool whole = false;
        qsizetype length = 0; // of the text after the changes told so far
        qsizetype first = -1;
        qsizetype tail = 0;
    };
    StepExtent m_step;
    mutable ClusterCounter m_clusters { m_buffer };
    qsizetype m_caret = 0;
    qsizetype m_anchor = 0;
    qsizetype m_shownCaret = 0;
    qsizetype m_shownAnchor = 0;
    struct EditRepaint
    {
        bool active = false;
        QRect marks; // the rows of the selection shown before the edit
        QPoint moved; // by scrolling since, the screen's pixels moved with the text
        bool whole = false; // scrolled too far for that: everything is repainted
    };
    EditRepaint m_editRepaint;
    struct Ahead
    {
        QImage picture; // the viewport showing the screen from `top` on, without the caret
        qsizetype top = -1;
        DrawnState state;
        // The top of the screen last drawn, and whether a frame drawn whole scrolled since the
        // screen below was last drawn ahead: only then is it drawn again, not after each key or
        // each short scroll, which moves pixels.
        qsizetype shownTop = -1;
        bool scrolled = false;
    };
    Ahead m_ahead;
    qreal m_preferredX = -1; // kept while moving up and down
    qsizetype m_loadKept = 0;

    int m_lineHeight = 1;
    int m_ascent = 0;
    qreal m_charWidth = 1;
    mutable qreal m_widestMeasured = 0;
    qsizetype m_longestLine = 0;
    int m_margin = 4;
    bool m_wrap = false;
    Qt::ScrollBarPolicy m_horizontalPolicy = Qt::ScrollBarAsNeeded;
    mutable VisualRows m_rows;

    mutable LayoutCache m_layouts;

    QString m_preedit;
    int m_preeditCursor = 0;
    QList<QTextLayout::FormatRange> m_preeditFormats;

    bool m_caretShown = true;
    QBasicTimer m_blinkTimer;
    QBasicTimer m_scrollTimer;
    QBasicTimer m_aheadTimer; // lays out the next screen once a frame is drawn
    QBasicTimer m_tripleClickTimer; // runs for a moment after a double click
    QPoint m_tripleClickPoint;
    QPoint m_lastMousePos;
    bool m_selecting = false;
    bool m_maybeDrag = false;
    QPoint m_pressPos;
    qsizetype m_dropCaret = -1;
    bool m_wordSelecting = false;
    qsizetype m_wordAnchorStart = 0;
    qsizetype m_wordAnchorEnd = 0;
};
