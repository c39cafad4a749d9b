#include "rope.h"

#include "ropeclusters.h"

#include <QtAlgorithms>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace rope {

namespace {

qint64 allocationsLeft = -1;
// Texts are made and let go on more than one thread (a journal written or rebuilt in the
// background), so the counts are atomic.
std::atomic<qint64> liveNodes = 0;
std::atomic<qint64> peakNodes = 0;

bool isContinuation(char c) { return (uchar(c) & 0xC0) == 0x80; }

// The nearest place at or before at where text may be cut: not inside a character, not between
// a CR and its LF.
qint64 boundaryAtOrBefore(const char *data, qint64 at)
{
    while (at > 0 && (isContinuation(data[at]) || (data[at] == '\n' && data[at - 1] == '\r')))
        --at;
    return at;
}

bool isAscii(const char *data, qint64 size)
{
    qint64 i = 0;
#ifdef __SSE2__
    __m128i any = _mm_setzero_si128();
    for (; i + 64 <= size; i += 64) {
        const auto at = [data, i](qint64 offset) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + offset));
        };
        any = _mm_or_si128(any,
                           _mm_or_si128(_mm_or_si128(at(0), at(16)), _mm_or_si128(at(32), at(48))));
    }
    if (_mm_movemask_epi8(any) != 0)
        return false;
#endif
    quint64 seen = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        seen |= word;
    }
    for (; i < size; ++i)
        seen |= uchar(data[i]);
    return (seen & 0x8080808080808080ull) == 0;
}

// Units of a piece of complete UTF-8: one per sequence, two for those of four bytes.
qint64 unitsIn(const char *data, qint64 size)
{
    qint64 units = 0;
    for (qint64 i = 0; i < size; ++i) {
        const uchar c = uchar(data[i]);
        units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
    }
    return units;
}

#ifdef __SSE2__
// Set bits of a 16-bit mask, without the library call the compiler makes for a processor it may
// not know to have the instruction.
inline qint64 bitsIn(uint mask)
{
    mask = mask - ((mask >> 1) & 0x5555);
    mask = (mask & 0x3333) + ((mask >> 2) & 0x3333);
    mask = (mask + (mask >> 4)) & 0x0F0F;
    return qint64((mask + (mask >> 8)) & 0x1F);
}

inline qint64 sumOfLanes(__m128i sums)
{
    return _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
}
#endif

// A line's units are its bytes less its continuation bytes, plus one for each four-byte lead (a
// pair of units): with those counted as "extra" before each place, sixteen bytes at a time, a
// line costs two subtractions however long it is.
template<bool Ascii>
Summary leafSummaryOf(const char *data, qint64 size)
{
    Summary sum;
    sum.bytes = size;
    qint64 lineStart = 0; // in units
    // Every LF follows its CR, so each break is found by its LF.
    const auto lineFeedAt = [&](qint64 at, qint64 extraAt) {
        const qint64 line = at - 1 - extraAt - lineStart;
        if (sum.breaks++ == 0)
            sum.first = line;
        else
            sum.longest = std::max(sum.longest, line);
        lineStart = at + 1 - extraAt;
    };
    qint64 from = 0;
    qint64 extra = 0; // before the block under way
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i belowLead = _mm_set1_epi8(-64);
    const __m128i belowFour = _mm_set1_epi8(-17);
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    // Continuation bytes and four-byte leads, summed in two lanes each.
    __m128i continuationSums = zero;
    __m128i fourSums = zero;
    for (; from + 16 <= size; from += 16) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + from));
        uint found = uint(_mm_movemask_epi8(_mm_cmpeq_epi8(chars, lf)));
        if constexpr (Ascii) {
            for (; found != 0; found &= found - 1)
                lineFeedAt(from + qCountTrailingZeroBits(found), 0);
        } else {
            const __m128i continuations = _mm_cmplt_epi8(chars, belowLead);
            const __m128i fours
                = _mm_and_si128(_mm_cmpgt_epi8(chars, belowFour), _mm_cmplt_epi8(chars, zero));
            if (found != 0) {
                extra = sumOfLanes(continuationSums) - sumOfLanes(fourSums);
                const uint continuationBits = uint(_mm_movemask_epi8(continuations));
                const uint fourBits = uint(_mm_movemask_epi8(fours));
                for (; found != 0; found &= found - 1) {
                    const uint at = qCountTrailingZeroBits(found);
                    const uint before = (1u << at) - 1;
                    lineFeedAt(from + at,
                               extra + bitsIn(continuationBits & before)
                                   - bitsIn(fourBits & before));
                }
            }
            continuationSums = _mm_add_epi64(continuationSums,
                                             _mm_sad_epu8(_mm_and_si128(continuations, one), zero));
            fourSums = _mm_add_epi64(fourSums, _mm_sad_epu8(_mm_and_si128(fours, one), zero));
        }
    }
    if constexpr (!Ascii)
        extra = sumOfLanes(continuationSums) - sumOfLanes(fourSums);
#endif
    for (; from < size; ++from) {
        if (data[from] == '\n')
            lineFeedAt(from, extra);
        if constexpr (!Ascii)
            extra += qint64(isContinuation(data[from])) - qint64(uchar(data[from]) >= 0xF0);
    }
    sum.units = size - extra;
    sum.last = sum.units - lineStart;
    if (sum.breaks == 0)
        sum.first = sum.last;
    return sum;
}

Summary leafSummary(const char *data, qint64 size)
{
    return isAscii(data, size) ? leafSummaryOf<true>(data, size) : leafSummaryOf<false>(data, size);
}

NodePtr makeNode(const NodePtr &left, const NodePtr &right)
{
    countAllocation();
    auto node = std::make_shared<Node>();
    node->sum = left->sum + right->sum;
    node->clusters = joinedClusters(*left, *right);
    node->height = std::max(left->height, right->height) + 1;
    node->lastLeafBytes = right->lastLeafBytes;
    node->left = left;
    node->right = right;
    return node;
}

// The node (l, r) turned left: ((l, r.left), r.right).
NodePtr rotatedLeft(const NodePtr &l, const NodePtr &r)
{
    return makeNode(makeNode(l, r->left), r->right);
}

// The node (l, r) turned right: (l.left, (l.right, r)).
NodePtr rotatedRight(const NodePtr &l, const NodePtr &r)
{
    return makeNode(l->left, makeNode(l->right, r));
}

// a is more than one level taller than b: b goes down a's right side.
NodePtr joinRight(const NodePtr &a, const NodePtr &b)
{
    const NodePtr &l = a->left;
    const NodePtr &c = a->right;
    if (c->height <= b->height + 1) {
        if (std::max(c->height, b->height) + 1 <= l->height + 1)
            return makeNode(l, makeNode(c, b));
        return rotatedLeft(l, rotatedRight(c, b));
    }
    const NodePtr t = joinRight(c, b);
    if (t->height <= l->height + 1)
        return makeNode(l, t);
    return rotatedLeft(l, t);
}

NodePtr joinLeft(const NodePtr &a, const NodePtr &b)
{
    const NodePtr &c = b->left;
    const NodePtr &r = b->right;
    if (c->height <= a->height + 1) {
        if (std::max(c->height, a->height) + 1 <= r->height + 1)
            return makeNode(makeNode(a, c), r);
        return rotatedRight(rotatedLeft(a, c), r);
    }
    const NodePtr t = joinLeft(a, c);
    if (t->height <= r->height + 1)
        return makeNode(t, r);
    return rotatedRight(t, r);
}

// Scans a leaf from a known unit and byte to the given unit.
Offset scanToUnit(const Node &leaf, qint64 unit, qint64 fromUnit, qint64 fromByte)
{
    const char *data = leaf.data();
    const qint64 size = leaf.sum.bytes;
    qint64 u = fromUnit;
    qint64 b = fromByte;
    while (b < size && u < unit) {
        if (unit - u >= 8 && size - b >= 8) {
            quint64 word;
            std::memcpy(&word, data + b, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                u += 8;
                b += 8;
                continue;
            }
        }
        const uchar c = uchar(data[b]);
        if (c >= 0xF0) {
            if (u + 1 == unit)
                return { b, true };
            u += 2;
            b += 4;
            continue;
        }
        ++u;
        b += c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    }
    return { b, false };
}

void appendBytesOf(const Node &node, std::string &out)
{
    if (node.isLeaf()) {
        out.append(node.data(), size_t(node.sum.bytes));
        return;
    }
    appendBytesOf(*node.left, out);
    appendBytesOf(*node.right, out);
}

// What a check has seen of the leaves before the one it looks at.
struct LeavesBefore
{
    char lastByte = 0;
    bool lastSmall = false;
};

std::string leafFault(const Node &leaf, LeavesBefore &before)
{
    const char *data = leaf.data();
    const qint64 size = leaf.sum.bytes;
    if (!data || size <= 0)
        return "an empty leaf";
    if (size > MostLeafBytes)
        return "a leaf of " + std::to_string(size) + " bytes";
    if (before.lastSmall)
        return "a small leaf before the last";
    if (isContinuation(data[0]))
        return "a leaf starting inside a character";
    if (data[0] == '\n' && before.lastByte == '\r')
        return "a leaf starting between CR and LF";
    for (qint64 i = 0; i < size; ++i) {
        if (data[i] == '\r' && i + 1 == size)
            return "a leaf ending between CR and LF";
        if (data[i] == '\r' && data[i + 1] != '\n')
            return "a CR without its LF";
        if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
            return "an LF without its CR";
        const uchar c = uchar(data[i]);
        const qint64 length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (length > 1 && i + length > size)
            return "a leaf ending inside a character";
    }
    if (!(leaf.sum == leafSummary(data, size)) || leaf.lastLeafBytes != size
        || !(leaf.clusters == leafClusters(data, size, leaf.sum)))
        return "a leaf whose counts are not its text's";
    before = { data[size - 1], size < SmallLeafBytes };
    return {};
}

std::string check(const Node &node, LeavesBefore &before)
{
    if (node.isLeaf())
        return node.left || node.right ? "a leaf with children" : leafFault(node, before);
    if (!node.left || !node.right || node.bytes)
        return "a node without two children";
    if (node.height != std::max(node.left->height, node.right->height) + 1)
        return "a node whose height is not its children's";
    if (std::abs(node.left->height - node.right->height) > 1)
        return "a node out of balance";
    if (!(node.sum == node.left->sum + node.right->sum)
        || node.lastLeafBytes != node.right->lastLeafBytes
        || !(node.clusters == joinedClusters(*node.left, *node.right)))
        return "a node whose counts are not its children's";
    std::string fault = check(*node.left, before);
    return fault.empty() ? check(*node.right, before) : fault;
}

} // namespace

Summary operator+(const Summary &a, const Summary &b)
{
    Summary sum;
    sum.units = a.units + b.units;
    sum.bytes = a.bytes + b.bytes;
    sum.breaks = a.breaks + b.breaks;
    sum.first = a.breaks ? a.first : a.units + b.first;
    sum.last = b.breaks ? b.last : a.last + b.units;
    sum.longest = std::max(a.longest, b.longest);
    if (a.breaks && b.breaks)
        sum.longest = std::max(sum.longest, a.last + b.first);
    return sum;
}

Node::Node()
{
    const qint64 live = ++liveNodes;
    for (qint64 peak = peakNodes; live > peak && !peakNodes.compare_exchange_weak(peak, live);) { }
}

Node::~Node() { --liveNodes; }

NodeCount nodeCount() { return { liveNodes, peakNodes }; }

void resetPeak() { peakNodes = liveNodes.load(); }

void failAllocationAfter(qint64 count) { allocationsLeft = count; }

void countAllocation()
{
    if (allocationsLeft < 0)
        return;
    if (allocationsLeft == 0)
        throw std::bad_alloc();
    --allocationsLeft;
}

namespace {

// A leaf of the bytes of head followed by those of tail.
NodePtr leafOf(QByteArrayView head, QByteArrayView tail)
{
    countAllocation();
    auto node = std::make_shared<Node>();
    const qint64 size = head.size() + tail.size();
    char *bytes = new char[size_t(size)];
    node->bytes.reset(bytes);
    std::memcpy(bytes, head.data(), size_t(head.size()));
    std::memcpy(bytes + head.size(), tail.data(), size_t(tail.size()));
    node->sum = leafSummary(bytes, size);
    node->clusters = leafClusters(bytes, size, node->sum);
    node->lastLeafBytes = int(size);
    return node;
}

} // namespace

NodePtr makeLeaf(const char *data, qint64 size) { return leafOf(QByteArrayView(data, size), {}); }

NodePtr join(const NodePtr &a, const NodePtr &b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    if (a->height > b->height + 1)
        return joinRight(a, b);
    if (b->height > a->height + 1)
        return joinLeft(a, b);
    return makeNode(a, b);
}

std::string faultIn(const NodePtr &root)
{
    LeavesBefore before;
    return root ? check(*root, before) : std::string();
}

// Walks down to the leaf where goLeft() first fails to send the walk left, adding up what lies
// before it.
template<typename GoLeft>
Location locate(const NodePtr &root, GoLeft goLeft)
{
    Location at;
    const Node *node = root.get();
    while (node && !node->isLeaf()) {
        const Summary &left = node->left->sum;
        if (goLeft(at, left)) {
            node = node->left.get();
            continue;
        }
        at.unitStart += left.units;
        at.byteStart += left.bytes;
        at.breaksBefore += left.breaks;
        node = node->right.get();
    }
    at.leaf = node;
    return at;
}

Location locateUnit(const NodePtr &root, qint64 position)
{
    return locate(root, [position](const Location &at, const Summary &left) {
        return position < at.unitStart + left.units;
    });
}

Location locateByte(const NodePtr &root, qint64 byte)
{
    return locate(root, [byte](const Location &at, const Summary &left) {
        return byte < at.byteStart + left.bytes;
    });
}

Location locateBreak(const NodePtr &root, qint64 breakNumber)
{
    return locate(root, [breakNumber](const Location &at, const Summary &left) {
        return breakNumber <= at.breaksBefore + left.breaks;
    });
}

Offset byteOfUnit(const Node &leaf, qint64 unit, qint64 fromUnit, qint64 fromByte)
{
    if (leaf.sum.units == leaf.sum.bytes)
        return { std::clamp<qint64>(unit, 0, leaf.sum.bytes), false };
    return scanToUnit(leaf, unit, fromUnit, fromByte);
}

qint64 unitOfByte(const Node &leaf, qint64 byte, qint64 fromByte, qint64 fromUnit)
{
    if (leaf.sum.units == leaf.sum.bytes)
        return fromUnit + byte - fromByte;
    return fromUnit + unitsIn(leaf.data() + fromByte, byte - fromByte);
}

Builder::Builder() { m_pending.reserve(size_t(MostLeafBytes)); }

void Builder::appendBytes(const char *data, qint64 size)
{
    if (size > 0)
        reopenSmallEnd();
    while (size > 0) {
        // A leaf is cut only when more bytes come: cut as soon as the pending bytes fill up,
        // a few bytes would be left over, and every full leaf appended after them would be
        // copied to carry them on, to the end of the text.
        if (room() == 0)
            cutLeaf();
        // A leaf that ends within the given bytes is made from them and the few pending ones,
        // cut where cutLeaf() would cut it, without copying them to the pending bytes first.
        const qint64 pending = qint64(m_pending.size());
        const qint64 cut = pending + 8 <= LeafBytes && pending + size > MostLeafBytes
            ? boundaryAtOrBefore(data, LeafBytes - pending)
            : 0;
        if (cut > 0) {
            push(leafOf(QByteArrayView(m_pending), QByteArrayView(data, cut)));
            m_pending.clear();
            data += cut;
            size -= cut;
            continue;
        }
        const qint64 take = std::min(size, room());
        m_pending.append(data, size_t(take));
        data += take;
        size -= take;
    }
}

// Makes a leaf of the first LeafBytes or so of the pending bytes, ending at a character that is
// not the LF of a pair.
void Builder::cutLeaf()
{
    const char *data = m_pending.data();
    const qint64 cut = boundaryAtOrBefore(data, LeafBytes);
    push(makeLeaf(data, cut));
    m_pending.erase(0, size_t(cut));
}

void Builder::flush()
{
    if (m_pending.empty())
        return;
    NodePtr leaf = makeLeaf(m_pending.data(), qint64(m_pending.size()));
    m_pending.clear();
    push(std::move(leaf));
}

// Joins as a binary counter would carry: a new piece is joined with every piece before it that
// is no taller, so the pieces on the stack get taller towards the start of the text.
void Builder::push(NodePtr node)
{
    while (!m_stack.empty() && m_stack.back()->height <= node->height) {
        node = join(m_stack.back(), node);
        m_stack.pop_back();
    }
    m_stack.push_back(std::move(node));
}

void Builder::appendTree(const NodePtr &node)
{
    if (!node)
        return;
    reopenSmallEnd();
    const qint64 pending = qint64(m_pending.size());
    const bool smallPending = pending > 0 && pending < SmallLeafBytes;
    if (node->isLeaf() && (smallPending || node->sum.bytes < SmallLeafBytes)) {
        appendLeaf(*node);
        return;
    }
    if (!smallPending) {
        flush();
        push(node);
        return;
    }
    appendTree(node->left);
    appendTree(node->right);
}

// A subtree is taken over whole even when its last leaf is small; once more text follows, that
// leaf is taken back into the pending bytes for the text to join, so that edits leave no small
// leaf behind (typing at the end of a text would leave one a key).
void Builder::reopenSmallEnd()
{
    if (!m_pending.empty() || m_stack.empty() || m_stack.back()->lastLeafBytes >= SmallLeafBytes)
        return;
    const NodePtr top = std::move(m_stack.back());
    m_stack.pop_back();
    const Node *at = top.get();
    for (; !at->isLeaf(); at = at->right.get())
        push(at->left);
    m_pending.assign(at->data(), size_t(at->sum.bytes));
}

// Merges a leaf into the pending bytes; when the two do not fit in one leaf and the pending
// bytes are few, they make two leaves of about equal size instead of leaving a few bytes over.
void Builder::appendLeaf(const Node &leaf)
{
    const qint64 size = leaf.sum.bytes;
    const qint64 pending = qint64(m_pending.size());
    if (size <= room()) {
        appendBytes(leaf.data(), size);
        return;
    }
    if (pending >= SmallLeafBytes) {
        flush();
        appendBytes(leaf.data(), size);
        return;
    }
    const qint64 half = boundaryAtOrBefore(leaf.data(), (pending + size) / 2 - pending);
    appendBytes(leaf.data(), half);
    flush();
    appendBytes(leaf.data() + half, size - half);
}
void Builder::appendSlice(const NodePtr &node, qint64 fromUnit, qint64 toUnit)
{
    if (!node)
        return;
    fromUnit = std::max<qint64>(fromUnit, 0);
    toUnit = std::min(toUnit, node->sum.units);
    if (fromUnit >= toUnit)
        return;
    if (fromUnit == 0 && toUnit == node->sum.units) {
        appendTree(node);
        return;
    }
    if (node->isLeaf()) {
        const auto byteAt = [&](qint64 unit) {
            if (node->sum.units == node->sum.bytes)
                return unit;
            const bool resume = node.get() == m_hintLeaf && unit >= m_hintUnit;
            const Offset at
                = scanToUnit(*node, unit, resume ? m_hintUnit : 0, resume ? m_hintByte : 0);
            m_hintLeaf = node.get();
            m_hintUnit = unit - at.inPair;
            m_hintByte = at.byte;
            return at.byte;
        };
        const qint64 from = byteAt(fromUnit);
        appendBytes(node->data() + from, byteAt(toUnit) - from);
        return;
    }
    const qint64 leftUnits = node->left->sum.units;
    appendSlice(node->left, fromUnit, std::min(toUnit, leftUnits));
    appendSlice(node->right, fromUnit - leftUnits, toUnit - leftUnits);
}

NodePtr Builder::tree() const
{
    NodePtr tree
        = m_pending.empty() ? nullptr : makeLeaf(m_pending.data(), qint64(m_pending.size()));
    for (auto piece = m_stack.rbegin(); piece != m_stack.rend(); ++piece)
        tree = join(*piece, tree);
    return tree;
}

void Builder::restore(State state)
{
    m_stack = std::move(state.stack);
    m_pending.assign(state.pending);
    m_hintLeaf = nullptr;
}

Splicer::Splicer(NodePtr old)
{
    if (old)
        m_rest.push_back({ std::move(old), 0 });
}

void Splicer::walk(qint64 to, std::string *dropped, bool copy)
{
    while (m_at < to) {
        // A leaf is entered only when the walk stops inside it, so only part of it is copied.
        if (m_leaf && m_at < m_leafStart + m_leaf->sum.bytes) {
            const qint64 end = std::min(to, m_leafStart + m_leaf->sum.bytes);
            const char *from = m_leaf->data() + (m_at - m_leafStart);
            if (copy)
                m_builder.appendBytes(from, end - m_at);
            else if (dropped)
                dropped->append(from, size_t(end - m_at));
            m_at = end;
            continue;
        }
        m_leaf.reset();
        if (m_rest.empty())
            return;
        Piece piece = std::move(m_rest.back());
        m_rest.pop_back();
        const qint64 end = piece.start + piece.node->sum.bytes;
        if (end <= to) {
            if (copy)
                m_builder.appendTree(piece.node);
            else if (dropped)
                appendBytesOf(*piece.node, *dropped);
            m_at = end;
        } else if (piece.node->isLeaf()) {
            m_leaf = std::move(piece.node);
            m_leafStart = piece.start;
        } else {
            const qint64 leftBytes = piece.node->left->sum.bytes;
            m_rest.push_back({ piece.node->right, piece.start + leftBytes });
            m_rest.push_back({ piece.node->left, piece.start });
        }
    }
}

NodePtr Splicer::current() const
{
    Builder builder = m_builder;
    if (m_leaf && m_at < m_leafStart + m_leaf->sum.bytes)
        builder.appendBytes(m_leaf->data() + (m_at - m_leafStart),
                            m_leafStart + m_leaf->sum.bytes - m_at);
    for (auto piece = m_rest.rbegin(); piece != m_rest.rend(); ++piece)
        builder.appendTree(piece->node);
    return builder.tree();
}

NodePtr Splicer::finish()
{
    walk(std::numeric_limits<qint64>::max(), nullptr, true);
    return m_builder.tree();
}

NodePtr slice(const NodePtr &root, qint64 fromUnit, qint64 toUnit)
{
    Builder builder;
    builder.appendSlice(root, fromUnit, toUnit);
    return builder.tree();
}

NodePtr replaced(const NodePtr &root, qint64 from, qint64 to, const NodePtr &with)
{
    Builder builder;
    builder.appendSlice(root, 0, from);
    builder.appendTree(with);
    builder.appendSlice(root, to, units(root));
    return builder.tree();
}

} // namespace rope
