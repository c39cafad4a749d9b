#include "textbuffer.h"

#include "rope.h"
#include "storedform.h"

#include <QStringDecoder>

#include <algorithm>

using rope::Builder;

struct TextBuffer::Loading
{
    Builder builder;
    bool endedWithCr = false;
};

TextBuffer::TextBuffer() = default;
TextBuffer::~TextBuffer() = default;

QString TextBuffer::withCrLf(const QString &text) { return storedform::withCrLf(text); }

const TextBuffer::NodePtr &TextBuffer::root() const
{
    if (m_loadingStale) {
        m_root = m_loading->builder.tree();
        m_loadingStale = false;
        m_lastPlace = {};
        m_lastLine = {};
    }
    return m_root;
}

void TextBuffer::commit(NodePtr root)
{
    m_root = std::move(root);
    m_loading.reset();
    m_loadingStale = false;
    m_lastPlace = {};
    m_lastLine = {};
}

void TextBuffer::setText(const QString &text)
{
    NodePtr tree = storedform::treeOf(text);
    commit(std::move(tree));
    clearUndo();
    tellRenewed();
}

void TextBuffer::adopt(const TextSlice &text)
{
    commit(text.m_tree);
    clearUndo();
    tellRenewed();
}

void TextBuffer::endLoad()
{
    clearUndo();
    tellRenewed();
}

// Every change of the text is told once made, from the record the storage made of it: the same
// records the history keeps.
void TextBuffer::tell(const EditRecord &record) const
{
    if (!m_listener)
        return;
    if (const auto *edit = std::get_if<Replacement>(&record))
        m_listener(
            TextReplaced { edit->position, rope::units(edit->removed), TextSlice(edit->inserted) });
    else
        tellRenewed();
}

void TextBuffer::tellRenewed() const
{
    if (m_listener)
        m_listener(TextRenewed { whole() });
}

void TextBuffer::appendLoaded(QByteArrayView utf8)
{
    appendLoading(
        [&](Builder &builder, bool &endedWithCr) {
            storedform::appendUtf8(builder, utf8.data(), utf8.size(), endedWithCr);
        },
        utf8.size() * 2);
}

void TextBuffer::appendLoaded(QStringView text)
{
    appendLoading([&](Builder &builder,
                      bool &endedWithCr) { storedform::appendUtf16(builder, text, endedWithCr); },
                  text.size() * 3);
}

// The builder of a load goes on from call to call; a call that fails puts it back as it was.
void TextBuffer::appendLoading(const std::function<void(Builder &, bool &)> &append,
                               qint64 mostBytes)
{
    if (mostBytes == 0)
        return;
    if (!m_loading) {
        auto loading = std::make_unique<Loading>();
        loading->builder.appendTree(root());
        append(loading->builder, loading->endedWithCr);
        clearUndo();
        m_loading = std::move(loading);
        m_loadingStale = true;
        return;
    }
    Loading &loading = *m_loading;
    if (loading.builder.room() > mostBytes) {
        append(loading.builder, loading.endedWithCr);
        m_loadingStale = true;
        return;
    }
    Builder::State saved = loading.builder.state();
    const bool endedWithCr = loading.endedWithCr;
    try {
        append(loading.builder, loading.endedWithCr);
    } catch (...) {
        loading.builder.restore(std::move(saved));
        loading.endedWithCr = endedWithCr;
        throw;
    }
    m_loadingStale = true;
}

qsizetype TextBuffer::length() const { return rope::units(root()); }

qsizetype TextBuffer::lineCount() const { return rope::summary(root()).breaks + 1; }

qsizetype TextBuffer::longestLine() const { return rope::summary(root()).longestLine(); }

qint64 TextBuffer::byteLength() const { return rope::bytes(root()); }

// Looking at positions one after another (a caret moving, a scan along a line) finds them in
// the leaf of the last look-up, which is scanned on from where that look-up ended.
TextBuffer::Place TextBuffer::place(qsizetype position) const
{
    const NodePtr &tree = root();
    Place &hint = m_lastPlace;
    const bool inHint = hint.leaf && position >= hint.unitStart + hint.unit
        && position < hint.unitStart + hint.leaf->sum.units;
    if (!inHint) {
        const rope::Location at = rope::locateUnit(tree, position);
        hint = { at.leaf, at.unitStart, at.byteStart, at.breaksBefore };
    }
    if (!hint.leaf)
        return hint;
    const rope::Offset offset
        = rope::byteOfUnit(*hint.leaf, position - hint.unitStart, hint.unit, hint.byte);
    Place place = hint;
    place.byte = offset.byte;
    place.inPair = offset.inPair;
    hint.unit = position - hint.unitStart - offset.inPair;
    hint.byte = offset.byte;
    return place;
}

QString TextBuffer::text() const { return TextSlice(root()).toString(); }

void TextBuffer::readText(const std::function<void(QStringView)> &sink) const
{
    constexpr qsizetype PieceLength = 64 * 1024;
    // A chunk never ends inside a character or a CR LF, and decodes to at most as many units as
    // it has bytes, so whole chunks fill the pieces and no pair is ever split between two.
    QString buffer(PieceLength + rope::MostLeafBytes, Qt::Uninitialized);
    QChar *out = buffer.data();
    QStringDecoder decoder = storedform::utf8Decoder();
    const auto flush = [&] {
        if (out != buffer.constData())
            sink(QStringView(buffer.constData(), out));
        out = buffer.data();
    };
    forEachChunk(0, [&](QByteArrayView bytes, qint64) {
        if ((out - buffer.constData()) + bytes.size() > buffer.size()) {
            flush();
            if (bytes.size() > buffer.size()) {
                buffer.resize(bytes.size());
                out = buffer.data();
            }
        }
        out = decoder.appendToBuffer(out, bytes);
        if (out - buffer.constData() >= PieceLength)
            flush();
        return true;
    });
    flush();
}

QChar TextBuffer::at(qsizetype position) const
{
    if (position < 0 || position >= length())
        return {};
    const Place place = this->place(position);
    const auto *c = reinterpret_cast<const uchar *>(place.leaf->data() + place.byte);
    if (c[0] < 0x80)
        return QChar(char16_t(c[0]));
    if (c[0] < 0xE0)
        return QChar(((c[0] & 0x1F) << 6) | (c[1] & 0x3F));
    if (c[0] < 0xF0)
        return QChar(((c[0] & 0x0F) << 12) | ((c[1] & 0x3F) << 6) | (c[2] & 0x3F));
    const char32_t code
        = ((c[0] & 0x07) << 18) | ((c[1] & 0x3F) << 12) | ((c[2] & 0x3F) << 6) | (c[3] & 0x3F);
    return QChar(place.inPair ? QChar::lowSurrogate(code) : QChar::highSurrogate(code));
}

QString TextBuffer::mid(qsizetype position, qsizetype count) const
{
    const qsizetype size = length();
    position = std::clamp<qsizetype>(position, 0, size);
    count = std::clamp<qsizetype>(count, 0, size - position);
    if (count == 0)
        return {};
    const Place first = place(position);
    const Place last = place(position + count);
    const qint64 fromByte = first.byteStart + first.byte;
    const qint64 toByte = last.byteStart + last.byte + (last.inPair ? 4 : 0);
    // Half a surrogate pair at either end is decoded whole and cut off after.
    QString text(count + 2, Qt::Uninitialized);
    QChar *out = text.data();
    QStringDecoder decoder = storedform::utf8Decoder();
    forEachChunk(fromByte, [&](QByteArrayView bytes, qint64 start) {
        const qint64 from = std::max<qint64>(fromByte - start, 0);
        const qint64 to = std::min<qint64>(toByte - start, bytes.size());
        if (to > from)
            out = decoder.appendToBuffer(out, bytes.sliced(from, to - from));
        return start + bytes.size() < toByte;
    });
    text.truncate(out - text.constData());
    if (first.inPair)
        text.remove(0, 1);
    text.truncate(count);
    return text;
}

// Lines asked for one after another (a screen being painted, a line's start and then its end)
// are found in the leaf of the last look-up, scanned on from the line found there.
qsizetype TextBuffer::lineStart(qsizetype line) const
{
    if (line <= 0)
        return 0;
    if (line >= lineCount())
        return length();
    LineHint &hint = m_lastLine;
    const bool inHint = hint.leaf && line > hint.breaksBefore
        && line <= hint.breaksBefore + hint.leaf->sum.breaks;
    if (!inHint) {
        const rope::Location at = rope::locateBreak(root(), line);
        hint = { { at.leaf, at.unitStart, at.byteStart, at.breaksBefore }, at.breaksBefore };
    } else if (line == hint.line) {
        return hint.unitStart + hint.unit;
    } else if (line < hint.line) {
        // A line or two back (a line's start asked for after its end) is scanned back for.
        if (hint.line - line <= 2) {
            const char *data = hint.leaf->data();
            qint64 byte = hint.byte - 1; // the LF that ends the line before the hint's
            for (qint64 left = hint.line - line; left > 0;) {
                if (data[--byte] == '\n')
                    --left;
            }
            ++byte;
            hint.unit -= rope::unitOfByte(*hint.leaf, hint.byte, byte, 0); // units in between
            hint.byte = byte;
            hint.line = line;
            return hint.unitStart + hint.unit;
        }
        hint.line = hint.breaksBefore;
        hint.byte = hint.unit = 0;
    }
    const char *data = hint.leaf->data();
    const char *lf
        = storedform::nthLineFeed(data + hint.byte, data + hint.leaf->sum.bytes, line - hint.line);
    const qint64 byte = lf - data + 1;
    hint.unit = rope::unitOfByte(*hint.leaf, byte, hint.byte, hint.unit);
    hint.byte = byte;
    hint.line = line;
    return hint.unitStart + hint.unit;
}

qsizetype TextBuffer::lineEnd(qsizetype line) const
{
    return line + 1 < lineCount() ? lineStart(line + 1) - 2 : length();
}

qsizetype TextBuffer::lineAt(qsizetype position) const
{
    const Place place = this->place(std::clamp<qsizetype>(position, 0, length()));
    if (!place.leaf)
        return 0;
    const char *data = place.leaf->data();
    const LineHint &hint = m_lastLine;
    if (hint.leaf == place.leaf && hint.byte <= place.byte)
        return hint.line + std::count(data + hint.byte, data + place.byte, '\n');
    return place.breaksBefore + std::count(data, data + place.byte, '\n');
}

qsizetype TextBuffer::snapped(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, length());
    if (position == 0 || position == length())
        return position;
    const Place place = this->place(position);
    if (place.inPair || place.leaf->data()[place.byte] == '\n')
        return position - 1;
    return position;
}

qint64 TextBuffer::byteOfPosition(qsizetype position) const
{
    const Place place = this->place(std::clamp<qsizetype>(position, 0, length()));
    return place.byteStart + place.byte;
}

qsizetype TextBuffer::positionOfByte(qint64 byte) const
{
    const rope::Location at = rope::locateByte(root(), std::clamp<qint64>(byte, 0, byteLength()));
    if (!at.leaf)
        return 0;
    qint64 local = byte - at.byteStart;
    while (local > 0 && local < at.leaf->sum.bytes
           && (uchar(at.leaf->data()[local]) & 0xC0) == 0x80)
        --local;
    return at.unitStart + rope::unitOfByte(*at.leaf, local);
}

void TextBuffer::forEachChunk(qint64 fromByte, const ChunkVisitor &visit) const
{
    const NodePtr &tree = root();
    if (tree && fromByte < tree->sum.bytes)
        rope::visitForward(*tree, 0, std::max<qint64>(fromByte, 0), visit);
}

void TextBuffer::forEachChunkBackward(qint64 beforeByte, const ChunkVisitor &visit) const
{
    const NodePtr &tree = root();
    if (tree && beforeByte > 0)
        rope::visitBackward(*tree, 0, std::min(beforeByte, tree->sum.bytes), visit);
}

TextSlice TextBuffer::slice(qsizetype position, qsizetype count) const
{
    const qsizetype start = snapped(position);
    const qsizetype end
        = std::max(start, snapped(start + std::clamp<qsizetype>(count, 0, length())));
    return TextSlice(rope::slice(root(), start, end));
}

qsizetype TextBuffer::replace(qsizetype position, qsizetype count, const QString &text, Merge merge)
{
    return replace(position, count, TextSlice(text), merge);
}

qsizetype TextBuffer::replace(qsizetype position, qsizetype count, const TextSlice &text,
                              Merge merge)
{
    const qsizetype start = snapped(position);
    const qsizetype end
        = std::max(start, snapped(start + std::clamp<qsizetype>(count, 0, length())));
    NodePtr inserted = text.m_tree;
    if (end == start && !inserted)
        return start;
    const qsizetype after = start + rope::units(inserted);
    const Replacement edit { start, rope::slice(root(), start, end), std::move(inserted) };
    NodePtr next = rope::replaced(root(), start, end, edit.inserted);
    TextHistory::Entry entry = m_history.prepare(edit, merge);
    commit(std::move(next));
    m_history.add(std::move(entry));
    tell(edit);
    return after;
}

void TextBuffer::apply(qsizetype position, qsizetype count, const TextSlice &text)
{
    const qsizetype start = snapped(position);
    const qsizetype end
        = std::max(start, snapped(start + std::clamp<qsizetype>(count, 0, length())));
    if (end == start && !text.m_tree)
        return;
    commit(rope::replaced(root(), start, end, text.m_tree));
    if (m_listener)
        m_listener(TextReplaced { start, end - start, text });
}

void TextBuffer::beginUndoGroup() { m_history.beginGroup(); }

void TextBuffer::endUndoGroup() { m_history.endGroup(); }

TextBuffer::Span TextBuffer::undo() { return replay(false); }

TextBuffer::Span TextBuffer::redo() { return replay(true); }

// Takes back (or makes again) the history's next step and files it in the other history.
TextBuffer::Span TextBuffer::replay(bool forward)
{
    const TextHistory::Step *step = m_history.next(forward);
    if (!step) {
        m_history.breakMerge();
        return { snapped(length()), 0 };
    }
    if (const auto *run = std::get_if<RewriteRun>(&step->front()))
        return replayRewrite(*run, forward);
    NodePtr next = root();
    Span span;
    std::vector<Replacement> made;
    made.reserve(step->size());
    const auto apply = [&](const Replacement &edit) {
        next = rope::replaced(next, edit.position, edit.position + rope::units(edit.removed),
                              edit.inserted);
        span = { edit.position, rope::units(edit.inserted) };
        made.push_back(edit);
    };
    if (forward) {
        for (const EditRecord &record : *step)
            apply(std::get<Replacement>(record));
    } else {
        for (auto record = step->rbegin(); record != step->rend(); ++record)
            apply(std::get<Replacement>(*record).reversed());
    }
    m_history.prepareMove(forward);

    commit(std::move(next));
    m_history.moved(forward);
    for (const Replacement &edit : made)
        tell(edit);
    return span;
}
