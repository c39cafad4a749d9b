#include "textbuffer.h"

#include "rope.h"

#include <QStringDecoder>
#include <QtAlgorithms>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using rope::Builder;

namespace {

// The next CR or LF at or after from, or size. Loading a text is mostly this scan, so it looks
// at sixteen bytes at a time where it can.
qint64 nextBreak(const char *data, qint64 from, qint64 size)
{
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; from + 16 <= size; from += 16) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + from));
        const int found
            = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chars, cr), _mm_cmpeq_epi8(chars, lf)));
        if (found != 0)
            return from + qCountTrailingZeroBits(uint(found));
    }
#endif
    for (; from < size; ++from) {
        if (data[from] == '\r' || data[from] == '\n')
            return from;
    }
    return size;
}

// The n-th LF from, which must come before end (n >= 1). Lines are short in the texts where this
// matters most, so it counts sixteen bytes at a time rather than calling memchr per line.
const char *nthLineFeed(const char *from, const char *end, qint64 n)
{
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    for (; end - from >= 16; from += 16) {
        uint found = uint(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(from)), lf)));
        for (; found != 0; found &= found - 1) {
            if (--n == 0)
                return from + qCountTrailingZeroBits(found);
        }
    }
#endif
    for (;; ++from) {
        if (*from == '\n' && --n == 0)
            return from;
    }
}

// Appends UTF-8 text with its line breaks in CR LF form. endedWithCr carries a CR that ended
// the text before, whose LF may start this one.
void appendWithCrLf(Builder &builder, const char *data, qint64 size, bool &endedWithCr)
{
    if (size == 0)
        return;
    qint64 run = endedWithCr && data[0] == '\n' ? 1 : 0;
    for (qint64 at = nextBreak(data, run, size); at < size; at = nextBreak(data, at, size)) {
        if (data[at] == '\r' && at + 1 < size && data[at + 1] == '\n') {
            at += 2;
            continue;
        }
        builder.appendBytes(data + run, at - run);
        builder.appendBytes("\r\n", 2);
        run = ++at;
    }
    builder.appendBytes(data + run, size - run);
    endedWithCr = data[size - 1] == '\r';
}

// UTF-16 goes in as UTF-8 a piece at a time, never cutting a surrogate pair.
void appendUtf16(Builder &builder, QStringView text, bool &endedWithCr)
{
    constexpr qsizetype Piece = 1 << 16;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype count = std::min(Piece, text.size() - from);
        if (from + count < text.size() && text.at(from + count - 1).isHighSurrogate())
            --count;
        const QByteArray bytes = text.sliced(from, count).toUtf8();
        appendWithCrLf(builder, bytes.constData(), bytes.size(), endedWithCr);
        from += count;
    }
}

rope::NodePtr treeOf(QStringView text)
{
    Builder builder;
    bool endedWithCr = false;
    appendUtf16(builder, text, endedWithCr);
    return builder.tree();
}

rope::NodePtr concatenated(const rope::NodePtr &a, const rope::NodePtr &b)
{
    Builder builder;
    builder.appendTree(a);
    builder.appendTree(b);
    return builder.tree();
}

// Room for one more element, counted as an allocation of the storage when it takes one.
template<typename T>
void reserveOneMore(std::vector<T> &list)
{
    if (list.size() < list.capacity())
        return;
    rope::countAllocation();
    list.reserve(std::max<size_t>(8, list.capacity() * 2));
}

// Every call decodes a part of the text, so a U+FEFF at the start of a part is a character like
// any other, not a byte-order mark to drop.
QStringDecoder utf8Decoder()
{
    return QStringDecoder(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless
                              | QStringDecoder::Flag::ConvertInitialBom);
}

bool visitForward(const rope::Node &node, qint64 start, qint64 fromByte,
                  const TextBuffer::ChunkVisitor &visit)
{
    if (node.isLeaf())
        return visit(QByteArrayView(node.data(), node.sum.bytes), start);
    const qint64 leftBytes = node.left->sum.bytes;
    if (fromByte < start + leftBytes && !visitForward(*node.left, start, fromByte, visit))
        return false;
    return visitForward(*node.right, start + leftBytes, fromByte, visit);
}

bool visitBackward(const rope::Node &node, qint64 start, qint64 beforeByte,
                   const TextBuffer::ChunkVisitor &visit)
{
    if (node.isLeaf())
        return visit(QByteArrayView(node.data(), node.sum.bytes), start);
    const qint64 leftBytes = node.left->sum.bytes;
    if (beforeByte > start + leftBytes
        && !visitBackward(*node.right, start + leftBytes, beforeByte, visit))
        return false;
    return visitBackward(*node.left, start, beforeByte, visit);
}

} // namespace

TextSlice::TextSlice(QStringView text) : m_tree(treeOf(text)) { }

TextSlice TextSlice::fromUtf8(QByteArrayView utf8)
{
    Builder builder;
    bool endedWithCr = false;
    appendWithCrLf(builder, utf8.data(), utf8.size(), endedWithCr);
    return TextSlice(builder.tree());
}

qsizetype TextSlice::length() const { return rope::units(m_tree); }

QString TextSlice::toString() const
{
    QString text(length(), Qt::Uninitialized);
    if (m_tree) {
        QChar *out = text.data();
        QStringDecoder decoder = utf8Decoder();
        visitForward(*m_tree, 0, 0, [&](QByteArrayView bytes, qint64) {
            out = decoder.appendToBuffer(out, bytes);
            return true;
        });
    }
    return text;
}

qint64 TextSlice::byteLength() const { return rope::bytes(m_tree); }

void TextSlice::readUtf8(const std::function<bool(QByteArrayView)> &visit) const
{
    if (m_tree)
        visitForward(*m_tree, 0, 0, [&](QByteArrayView bytes, qint64) { return visit(bytes); });
}

QByteArray TextSlice::toUtf8() const
{
    QByteArray bytes(rope::bytes(m_tree), Qt::Uninitialized);
    if (m_tree) {
        char *out = bytes.data();
        visitForward(*m_tree, 0, 0, [&](QByteArrayView chunk, qint64) {
            out = std::copy(chunk.begin(), chunk.end(), out);
            return true;
        });
    }
    return bytes;
}

struct TextBuffer::Loading
{
    Builder builder;
    bool endedWithCr = false;
};

TextBuffer::TextBuffer() = default;
TextBuffer::~TextBuffer() = default;

QString TextBuffer::withCrLf(const QString &text)
{
    const QStringView view(text);
    if (!view.contains(u'\r') && !view.contains(u'\n'))
        return text;
    QString result;
    result.reserve(text.size() + text.size() / 8 + 2);
    const qsizetype size = text.size();
    const char16_t *in = view.utf16();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = in[i];
        if (c != u'\r' && c != u'\n')
            continue;
        result.append(QStringView(in + runStart, i - runStart));
        result.append(u"\r\n");
        if (c == u'\r' && i + 1 < size && in[i + 1] == u'\n')
            ++i;
        runStart = i + 1;
    }
    result.append(QStringView(in + runStart, size - runStart));
    return result;
}

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
    NodePtr tree = treeOf(text);
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

void TextBuffer::tell(const TextChange &change) const
{
    if (m_listener)
        m_listener(change);
}

void TextBuffer::appendLoaded(QByteArrayView utf8)
{
    appendLoading(
        [&](Builder &builder, bool &endedWithCr) {
            appendWithCrLf(builder, utf8.data(), utf8.size(), endedWithCr);
        },
        utf8.size() * 2);
}

void TextBuffer::appendLoaded(QStringView text)
{
    appendLoading(
        [&](Builder &builder, bool &endedWithCr) { appendUtf16(builder, text, endedWithCr); },
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
    QString buffer(PieceLength + rope::LeafBytes + 16, Qt::Uninitialized);
    QChar *out = buffer.data();
    QStringDecoder decoder = utf8Decoder();
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
    QStringDecoder decoder = utf8Decoder();
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
    const char *lf = nthLineFeed(data + hint.byte, data + hint.leaf->sum.bytes, line - hint.line);
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
        visitForward(*tree, 0, std::max<qint64>(fromByte, 0), visit);
}

void TextBuffer::forEachChunkBackward(qint64 beforeByte, const ChunkVisitor &visit) const
{
    const NodePtr &tree = root();
    if (tree && beforeByte > 0)
        visitBackward(*tree, 0, std::min(beforeByte, tree->sum.bytes), visit);
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
    NodePtr removed = rope::slice(root(), start, end);
    NodePtr next = rope::replaced(root(), start, end, inserted);
    commitEdit(std::move(next), { start, std::move(removed), inserted }, merge);
    tell(TextReplaced { start, end - start, TextSlice(std::move(inserted)) });
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
    tell(TextReplaced { start, end - start, text });
}

// The changes of a rewrite, in order: for each, the bytes between it and the one before in the
// text before the rewrite, the length of the text it replaced and the length of the text it put
// there, as variable-length numbers, mostly a byte each. The texts themselves are kept once for
// every run of changes with the same text: a length's lowest bit marks the change whose text is
// new, the next one in its pool.
struct TextBuffer::Changes
{
    struct Change
    {
        qint64 start = 0;
        qint64 oldBytes = 0;
        qint64 newBytes = 0;
        bool oldFresh = false;
        bool newFresh = false;
        qint64 oldCode = 0; // where the old length is written
    };

    void add(qint64 gap, qint64 oldBytes, qint64 newBytes, bool newFresh)
    {
        put(quint64(gap));
        put(quint64(oldBytes) << 1);
        put(quint64(newBytes) << 1 | quint64(newFresh));
        ++count;
    }
    // The change at the cursor, which moves on past its place (not past its texts).
    Change read(ChangeCursor &at) const
    {
        Change change;
        change.start = at.kept + qint64(get(at.code));
        change.oldCode = at.code;
        const quint64 oldCode = get(at.code);
        const quint64 newCode = get(at.code);
        change.oldBytes = qint64(oldCode >> 1);
        change.oldFresh = oldCode & 1;
        change.newBytes = qint64(newCode >> 1);
        change.newFresh = newCode & 1;
        at.kept = change.start + change.oldBytes;
        ++at.index;
        return change;
    }
    // The lowest bit of a number is in its first byte.
    void markOldFresh(const Change &change) { byteAt(change.oldCode) |= 1; }
    // Once all are added, the last block shrinks to what it holds: most rewrites are small, and
    // their steps stay in the history.
    void shrink()
    {
        const qint64 used = m_size & BlockMask;
        if (used == 0)
            return;
        auto last = std::make_unique_for_overwrite<uchar[]>(size_t(used));
        std::memcpy(last.get(), m_blocks.back().get(), size_t(used));
        m_blocks.back() = std::move(last);
    }

    // The text of a change in a pool.
    static QByteArrayView text(const std::string &pool, TextsRead &read, qint64 bytes, bool fresh)
    {
        if (fresh) {
            read.lastAt = read.at;
            read.lastSize = bytes;
            read.at += bytes;
        }
        return QByteArrayView(pool.data() + read.lastAt, read.lastSize);
    }

    size_t count = 0;
    std::string oldTexts;
    std::string newTexts;

private:
    // The numbers go in blocks that never move, so that growing never copies them.
    static constexpr int BlockBits = 16;
    static constexpr qint64 BlockMask = (qint64(1) << BlockBits) - 1;

    uchar &byteAt(qint64 at) const { return m_blocks[size_t(at >> BlockBits)][at & BlockMask]; }
    void put(quint64 value)
    {
        do {
            if ((m_size & BlockMask) == 0)
                m_blocks.push_back(std::make_unique_for_overwrite<uchar[]>(BlockMask + 1));
            byteAt(m_size++) = uchar((value & 0x7F) | (value > 0x7F ? 0x80 : 0));
            value >>= 7;
        } while (value);
    }
    quint64 get(qint64 &at) const
    {
        quint64 value = 0;
        for (int shift = 0;; shift += 7) {
            const uchar byte = byteAt(at++);
            value |= quint64(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return value;
        }
    }

    std::vector<std::unique_ptr<uchar[]>> m_blocks;
    qint64 m_size = 0;
};

namespace {

constexpr qint64 RewriteSlice = 8 * 1024 * 1024;
qint64 rewriteSlice = RewriteSlice;

} // namespace

void TextBuffer::setRewriteSlice(qint64 bytes) { rewriteSlice = bytes > 0 ? bytes : RewriteSlice; }

struct TextBuffer::Rewrite::State
{
    NodePtr old; // the text the ranges are in
    std::shared_ptr<Changes> changes = std::make_shared<Changes>();
    qint64 kept = 0; // the end of the last range
    QString lastText;
    qint64 lastBytes = 0;
};

TextBuffer::Rewrite::Rewrite(std::unique_ptr<State> state) : d(std::move(state)) { }
TextBuffer::Rewrite::Rewrite(Rewrite &&) noexcept = default;
TextBuffer::Rewrite::~Rewrite() = default;

void TextBuffer::Rewrite::replace(qint64 fromByte, qint64 toByte, const QString &text)
{
    const qint64 total = rope::bytes(d->old);
    fromByte = std::clamp(fromByte, d->kept, total);
    toByte = std::clamp(toByte, fromByte, total);
    if (toByte == fromByte && text.isEmpty())
        return;
    Changes &changes = *d->changes;
    const bool fresh = changes.count == 0 || text != d->lastText;
    if (fresh) {
        const QByteArray bytes = withCrLf(text).toUtf8();
        changes.newTexts.append(bytes.constData(), size_t(bytes.size()));
        d->lastText = text;
        d->lastBytes = bytes.size();
    }
    changes.add(fromByte - d->kept, toByte - fromByte, d->lastBytes, fresh);
    d->kept = toByte;
}

TextBuffer::Rewrite TextBuffer::startRewrite() const
{
    auto state = std::make_unique<Rewrite::State>();
    state->old = root();
    return Rewrite(std::move(state));
}

qsizetype TextBuffer::finishRewrite(Rewrite rewrite,
                                    const std::function<void(qsizetype first)> &sliceDone)
{
    Rewrite::State &d = *rewrite.d;
    if (d.changes->count == 0 || d.old != root())
        return -1;
    d.old.reset();
    d.changes->shrink();
    ChangeCursor start;
    Edit edit { positionOfByte(d.changes->read(start).start), nullptr, nullptr,
                std::move(d.changes) };
    edit.run.end = edit.changes->count;
    Room room = makeRoom(false);
    const Walk walk = walkRun(*edit.changes, edit.run, true, true, [&] {
        if (sliceDone)
            sliceDone(edit.position);
    });
    const bool complete = walk.reached.index == edit.run.end;
    edit.run.end = walk.reached.index;
    const Span span { edit.position, positionOfByte(walk.end) - edit.position };
    commitEdit(root(), std::move(edit), Merge::Never, std::move(room));
    // The group, if any, goes on in a step after this one.
    m_groupStarted = false;
    tellRenewed();
    if (complete)
        return span.position;
    PartialRewrite partial;
    partial.span = span;
    throw partial;
}

// The walk holds the old text only ahead of it. Every slice of it the text it has made so far
// becomes the current text, so the chunks behind are let go; the slice is also how far back a
// failure falls. When it falls back to the start, std::bad_alloc goes on.
TextBuffer::Walk TextBuffer::walkRun(Changes &changes, const Run &run, bool forward, bool recordOld,
                                     const std::function<void()> &sliceDone)
{
    rope::Splicer splicer(root());
    Walk walk { run.begin };
    Walk done = walk;
    qint64 shown = 0;
    std::string dropped;
    qint64 lastOld = -1; // where the last old text recorded starts in its pool
    try {
        while (walk.reached.index < run.end) {
            const Changes::Change change = changes.read(walk.reached);
            // Where the change is in the text walked and in the text made.
            const qint64 start = change.start + run.shift;
            const qint64 from = forward ? start : start + walk.added;
            const qint64 to = forward ? start + walk.added : start;
            splicer.copyTo(from);
            bool oldFresh = change.oldFresh;
            if (recordOld) {
                dropped.clear();
                splicer.dropTo(from + change.oldBytes, &dropped);
                const qint64 pool = qint64(changes.oldTexts.size());
                if (lastOld < 0
                    || QByteArrayView(dropped)
                        != QByteArrayView(changes.oldTexts.data() + lastOld, pool - lastOld)) {
                    changes.oldTexts += dropped;
                    changes.markOldFresh(change);
                    oldFresh = true;
                    lastOld = pool;
                }
            } else {
                splicer.dropTo(from + (forward ? change.oldBytes : change.newBytes));
            }
            const QByteArrayView before
                = Changes::text(changes.oldTexts, walk.reached.olds, change.oldBytes, oldFresh);
            const QByteArrayView after = Changes::text(changes.newTexts, walk.reached.news,
                                                       change.newBytes, change.newFresh);
            const QByteArrayView put = forward ? after : before;
            splicer.insert(put.data(), put.size());
            walk.added += change.newBytes - change.oldBytes;
            walk.end = to + put.size();
            if (splicer.at() - shown >= rewriteSlice && walk.reached.index < run.end) {
                commit(splicer.current());
                done = walk;
                shown = splicer.at();
                if (sliceDone)
                    sliceDone();
            }
        }
        commit(splicer.finish());
        return walk;
    } catch (const std::bad_alloc &) {
        if (done.reached.index == run.begin.index)
            throw;
    }
    return done;
}

// Undo and redo of a rewrite's step walk the text as the rewrite did, letting the text they
// leave go behind them.
TextBuffer::Span TextBuffer::moveRewriteStep(std::vector<Step> &from, std::vector<Step> &to,
                                             bool forward)
{
    reserveOneMore(to);
    Step done;
    reserveOneMore(done);
    Edit &edit = from.back().front();
    const Walk walk = walkRun(*edit.changes, edit.run, forward, false);
    m_mergeOpen = false;
    tellRenewed();
    const Span span { edit.position, positionOfByte(walk.end) - edit.position };
    if (walk.reached.index == edit.run.end) {
        to.push_back(std::move(from.back()));
        from.pop_back();
        return span;
    }
    // The changes done move to the other history; the rest stay, now after them.
    done.push_back(edit);
    done.back().run.end = walk.reached.index;
    to.push_back(std::move(done));
    edit.run.begin = walk.reached;
    if (forward)
        edit.run.shift += walk.added;
    ChangeCursor next = walk.reached;
    edit.position = positionOfByte(edit.changes->read(next).start + edit.run.shift);
    PartialRewrite partial;
    partial.span = span;
    throw partial;
}

TextBuffer::Room TextBuffer::makeRoom(bool mayGroup)
{
    reserveOneMore(m_undo);
    Room room;
    room.grouped = mayGroup && m_groupDepth > 0 && m_groupStarted;
    if (room.grouped)
        reserveOneMore(m_undo.back());
    else
        reserveOneMore(room.alone);
    return room;
}

void TextBuffer::commitEdit(NodePtr next, Edit edit, Merge merge)
{
    // Whatever may fail comes first; the text and history change only after.
    const auto mergedWith = [&](const Edit &last) -> std::optional<Edit> {
        if (last.changes)
            return std::nullopt;
        // Typing over a selection and going on typing is one step.
        if (!edit.removed && last.inserted
            && edit.position == last.position + rope::units(last.inserted))
            return Edit { last.position, last.removed, concatenated(last.inserted, edit.inserted) };
        if (edit.inserted || last.inserted)
            return std::nullopt;
        if (edit.position + rope::units(edit.removed) == last.position)
            return Edit { edit.position, concatenated(edit.removed, last.removed), nullptr };
        if (edit.position == last.position)
            return Edit { last.position, concatenated(last.removed, edit.removed), nullptr };
        return std::nullopt;
    };
    if (m_groupDepth == 0 && merge == Merge::Typing && m_mergeOpen && !m_undo.empty()) {
        if (std::optional<Edit> merged = mergedWith(m_undo.back().back())) {
            commit(std::move(next));
            m_redo.clear();
            m_undo.back().back() = std::move(*merged);
            return;
        }
    }
    commitEdit(std::move(next), std::move(edit), merge, makeRoom());
}

// Nothing here allocates: the room was made before.
void TextBuffer::commitEdit(NodePtr next, Edit edit, Merge merge, Room room)
{
    commit(std::move(next));
    m_redo.clear();
    if (room.grouped) {
        m_undo.back().push_back(std::move(edit));
        return;
    }
    room.alone.push_back(std::move(edit));
    m_undo.push_back(std::move(room.alone));
    if (m_groupDepth > 0)
        m_groupStarted = true;
    else
        m_mergeOpen = merge == Merge::Typing;
}

void TextBuffer::beginUndoGroup()
{
    if (m_groupDepth++ == 0)
        m_groupStarted = false;
    m_mergeOpen = false;
}

void TextBuffer::endUndoGroup()
{
    if (m_groupDepth > 0)
        --m_groupDepth;
    m_mergeOpen = false;
}

void TextBuffer::clearUndo()
{
    m_undo.clear();
    m_redo.clear();
    m_mergeOpen = false;
}

TextBuffer::Span TextBuffer::undo() { return moveStep(m_undo, m_redo, false); }

TextBuffer::Span TextBuffer::redo() { return moveStep(m_redo, m_undo, true); }

// Applies the last step of one history in the given direction and files it in the other.
TextBuffer::Span TextBuffer::moveStep(std::vector<Step> &from, std::vector<Step> &to, bool forward)
{
    if (from.empty()) {
        m_mergeOpen = false;
        return { snapped(length()), 0 };
    }
    const Step &step = from.back();
    if (step.front().changes)
        return moveRewriteStep(from, to, forward);
    NodePtr next = root();
    Span span;
    std::vector<TextReplaced> changes;
    changes.reserve(step.size());
    const auto apply = [&](const Edit &edit, const NodePtr &out, const NodePtr &in) {
        next = rope::replaced(next, edit.position, edit.position + rope::units(out), in);
        span = { edit.position, rope::units(in) };
        changes.push_back({ edit.position, rope::units(out), TextSlice(in) });
    };
    if (forward) {
        for (const Edit &edit : step)
            apply(edit, edit.removed, edit.inserted);
    } else {
        for (auto edit = step.rbegin(); edit != step.rend(); ++edit)
            apply(*edit, edit->inserted, edit->removed);
    }
    reserveOneMore(to);

    commit(std::move(next));
    to.push_back(std::move(from.back()));
    from.pop_back();
    m_mergeOpen = false;
    for (const TextReplaced &change : changes)
        tell(change);
    return span;
}
