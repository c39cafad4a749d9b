#include "ropeclusters.h"

#include <QString>
#include <QTextBoundaryFinder>
#include <QtAlgorithms>

#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace rope {

namespace {

struct Range
{
    char32_t first;
    char32_t last;
};

// Characters of common scripts that are "Other" for the boundary finder: no mark, no control,
// no prefix, no pictograph (© and ® are, and so are a few symbols left out below), no jamo.
constexpr Range Starters[] = {
    { 0x20, 0x7e },     { 0xa0, 0xa8 },     { 0xaa, 0xac },     { 0xaf, 0x2ff },
    { 0x370, 0x3ff },   { 0x400, 0x482 },   { 0x48a, 0x52f },   { 0x5d0, 0x5ea },
    { 0x60c, 0x60c },   { 0x61b, 0x61b },   { 0x61f, 0x64a },   { 0x660, 0x66f },
    { 0x671, 0x6d5 },   { 0x2010, 0x2027 }, { 0x2030, 0x203b }, { 0x203d, 0x2048 },
    { 0x204a, 0x205e }, { 0x20a0, 0x20c0 }, { 0x3000, 0x3029 }, { 0x3031, 0x303c },
    { 0x303e, 0x303f }, { 0x3041, 0x3096 }, { 0x309b, 0x30ff }, { 0x3400, 0x4dbf },
    { 0x4e00, 0x9fff }, { 0xff01, 0xff9d },
};

// Nonspacing and enclosing marks of the same scripts, which extend any cluster.
constexpr Range Marks[] = {
    { 0x300, 0x36f },   { 0x483, 0x489 },   { 0x591, 0x5bd },   { 0x5bf, 0x5bf },
    { 0x5c1, 0x5c2 },   { 0x5c4, 0x5c5 },   { 0x5c7, 0x5c7 },   { 0x610, 0x61a },
    { 0x64b, 0x65f },   { 0x670, 0x670 },   { 0x6d6, 0x6dc },   { 0x6df, 0x6e4 },
    { 0x6e7, 0x6e8 },   { 0x6ea, 0x6ed },   { 0x20d0, 0x20f0 }, { 0x302a, 0x302f },
    { 0x3099, 0x309a }, { 0xfe00, 0xfe0f }, { 0xfe20, 0xfe2f }, { 0xff9e, 0xff9f },
};

// Prefixes (and a margin around them, and letters that were prefixes in older tables), leading
// jamo, and the surrogates.
constexpr Range Unsafe[] = {
    { 0x600, 0x605 }, { 0x6dd, 0x6dd },   { 0x70f, 0x70f },   { 0x890, 0x89f },   { 0x8e2, 0x8e2 },
    { 0xec0, 0xec4 }, { 0x1100, 0x115f }, { 0xa960, 0xa97f }, { 0xd800, 0xdfff },
};

bool tailoredScript(QChar::Script script)
{
    switch (script) {
    case QChar::Script_Devanagari:
    case QChar::Script_Bengali:
    case QChar::Script_Gurmukhi:
    case QChar::Script_Gujarati:
    case QChar::Script_Oriya:
    case QChar::Script_Tamil:
    case QChar::Script_Telugu:
    case QChar::Script_Kannada:
    case QChar::Script_Malayalam:
    case QChar::Script_Sinhala:
    case QChar::Script_Thai:
    case QChar::Script_Tibetan:
    case QChar::Script_Myanmar:
    case QChar::Script_Khmer:
        return true;
    default:
        return false;
    }
}

// Blocks that hold the letters of those scripts, a quick test before the script's look-up.
bool mayBeTailored(char32_t c)
{
    return (c >= 0x900 && c < 0x1100) || (c >= 0x1780 && c < 0x1800) || (c >= 0x19e0 && c < 0x1a00)
        || (c >= 0xa8e0 && c < 0xa900) || (c >= 0xa9e0 && c < 0xaa80) || c >= 0x10000;
}

// What stands in for a letter or mark of a tailored script: one of the same kind under the
// default rules, from a script that is not tailored, as long in units.
char32_t standIn(char32_t c)
{
    if (c == 0xd4e) // a prefix
        return 0x600;
    if (c == 0xe33) // a spacing mark that is a letter
        return 0x1b04;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
        return c < 0x10000 ? 0x301 : 0x1d167;
    case QChar::Mark_SpacingCombining:
        // Spacing marks that extend as the nonspacing ones do, and those that stand alone.
        for (const char32_t extending : { 0x9be, 0x9d7, 0xb3e, 0xb57, 0xbbe, 0xbd7, 0xcc2, 0xcd5,
                                          0xcd6, 0xd3e, 0xd57, 0xdcf, 0xddf }) {
            if (c == extending)
                return 0x301;
        }
        if (c == 0x102b || c == 0x102c || c == 0x1038 || (c >= 0x1062 && c <= 0x1064)
            || (c >= 0x1067 && c <= 0x106d) || c == 0x1083 || (c >= 0x1087 && c <= 0x108c)
            || c == 0x108f || (c >= 0x109a && c <= 0x109c))
            return u'x';
        return c < 0x10000 ? 0x1b04 : 0x11000;
    case QChar::Other_Format:
        return c < 0x10000 ? 0x1 : c;
    default:
        return c < 0x10000 ? u'x' : 0x10000;
    }
}

template<size_t N>
bool inRanges(const Range (&ranges)[N], char32_t c)
{
    for (const Range &range : ranges) {
        if (c < range.first)
            return false;
        if (c <= range.last)
            return true;
    }
    return false;
}

quint8 startEdges(char32_t c)
{
    const CharKind kind = charKind(c);
    if (kind == CharKind::Control && c != u'\n')
        return Clusters::StartsHard;
    return kind == CharKind::Starter || kind == CharKind::Syllable ? Clusters::StartsSure : 0;
}

quint8 endEdges(char32_t c)
{
    const CharKind kind = charKind(c);
    if (kind == CharKind::Control && c != u'\r')
        return Clusters::EndsHard | Clusters::EndsSafe;
    return kind == CharKind::Unsafe ? 0 : Clusters::EndsSafe;
}

// Every character is one unit and a cluster of its own, but CR LF.
Clusters asciiClusters(const char *data, qint64 size, const Summary &sum)
{
    Clusters clusters;
    clusters.count = size - sum.breaks;
    const bool startsWithBreak = size >= 2 && data[0] == '\r';
    const bool endsWithBreak = data[size - 1] == '\n';
    const qint64 first = startsWithBreak ? 2 : 1;
    const qint64 last = endsWithBreak ? size - 2 : size - 1;
    if (first < size && last >= 1) {
        clusters.firstUnit = clusters.firstByte = qint32(first);
        clusters.lastUnit = clusters.lastByte = qint32(last);
        clusters.head = clusters.tail = 1;
    }
    clusters.edges = startEdges(uchar(data[0])) | endEdges(uchar(data[size - 1]));
    return clusters;
}

struct Decoded
{
    char32_t c;
    int bytes;
};

Q_ALWAYS_INLINE Decoded decode(const char *at)
{
    const uchar lead = uchar(at[0]);
    const auto more = [at](int i) { return char32_t(uchar(at[i]) & 0x3f); };
    if (lead < 0x80)
        return { lead, 1 };
    if (lead < 0xe0)
        return { char32_t(lead & 0x1f) << 6 | more(1), 2 };
    if (lead < 0xf0)
        return { char32_t(lead & 0x0f) << 12 | more(1) << 6 | more(2), 3 };
    return { char32_t(lead & 0x07) << 18 | more(1) << 12 | more(2) << 6 | more(3), 4 };
}

qint32 asciiRunEnd(const char *data, qint32 from, qint32 size)
{
    qint32 at = from;
#ifdef __SSE2__
    for (; at + 16 <= size; at += 16) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at));
        if (const uint high = uint(_mm_movemask_epi8(chars)))
            return at + qint32(qCountTrailingZeroBits(high));
    }
#endif
    for (; at + 8 <= size; at += 8) {
        quint64 word;
        std::memcpy(&word, data + at, 8);
        if (word & 0x8080808080808080ull)
            break;
    }
    while (at < size && uchar(data[at]) < 0x80)
        ++at;
    return at;
}

// Places where the kinds alone cannot tell whether a cluster starts: the boundary finder counts
// the whole leaf, the syncs found by the kinds staying where they are.
void countByFinder(const char *data, qint64 size, Clusters &clusters)
{
    const QString text = untailored(QString::fromUtf8(data, size));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qint32 count = 1;
    qint32 head = 1;
    qint32 tail = 0;
    for (qsizetype at = finder.toNextBoundary(); at > 0 && at < text.size();
         at = finder.toNextBoundary()) {
        ++count;
        if (at < clusters.firstUnit)
            ++head;
        if (at >= clusters.lastUnit)
            ++tail;
    }
    clusters.count = count;
    clusters.head = clusters.firstUnit < 0 ? 0 : head;
    clusters.tail = clusters.firstUnit < 0 ? 0 : tail;
}

// Beyond the lists, letters, digits, punctuation and most symbols are starters and marks
// extend, but for blocks that hold jamo, pictographs (which are often symbols, sometimes
// punctuation or letters) or letters that are spacing marks.
CharKind kindByCategory(char32_t c)
{
    if ((c >= 0x1100 && c < 0x1200) || (c >= 0x2000 && c < 0x2c00) || (c >= 0x3000 && c < 0x3040)
        || (c >= 0xd7b0 && c < 0xd800) || c == 0xe33 || c == 0xeb3 || c == 0xff9e || c == 0xff9f)
        return CharKind::Plain;
    switch (QChar::category(c)) {
    case QChar::Mark_SpacingCombining: // but three that stand alone
        return c >= 0x1a61 && c <= 0x1a64 ? CharKind::Plain : CharKind::Mark;
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
        return CharKind::Mark;
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
    case QChar::Punctuation_Connector:
    case QChar::Punctuation_Dash:
    case QChar::Punctuation_Open:
    case QChar::Punctuation_Close:
    case QChar::Punctuation_InitialQuote:
    case QChar::Punctuation_FinalQuote:
    case QChar::Punctuation_Other:
    case QChar::Symbol_Math:
    case QChar::Symbol_Currency:
    case QChar::Symbol_Modifier:
    case QChar::Separator_Space:
        return CharKind::Starter;
    default:
        return CharKind::Plain;
    }
}

// The kind of a character of the basic plane.
CharKind kindOf(char32_t c)
{
    if (c < 0x20 || (c >= 0x7f && c < 0xa0))
        return CharKind::Control;
    if (inRanges(Unsafe, c))
        return CharKind::Unsafe;
    if (inRanges(Starters, c))
        return CharKind::Starter;
    if (c >= 0xac00 && c <= 0xd7a3)
        return CharKind::Syllable;
    if (inRanges(Marks, c))
        return CharKind::Mark;
    if (mayBeTailored(c) && tailoredScript(QChar::script(c)))
        return kindOf(standIn(c));
    return kindByCategory(c);
}

// Beyond the basic plane, prefixes lie in one block only; the rest (emoji, flags, tags) are of no
// sure kind but no prefix either, so a letter after them starts a cluster.
CharKind supplementaryKind(char32_t c)
{
    return c >= 0x11000 && c < 0x12000 ? CharKind::Unsafe : CharKind::Plain;
}

// Looked up for every character of every leaf that is not ASCII, so made once for the plane.
const CharKind *kindTable()
{
    static const std::array<CharKind, 0x10000> kinds = [] {
        std::array<CharKind, 0x10000> made;
        for (char32_t code = 0; code < 0x10000; ++code)
            made[code] = kindOf(code);
        return made;
    }();
    return kinds.data();
}

} // namespace

CharKind charKind(char32_t c)
{
    if (c < 0x80) // without the table, which a text of ASCII never needs
        return c < 0x20 || c == 0x7f ? CharKind::Control : CharKind::Starter;
    return c < 0x10000 ? kindTable()[c] : supplementaryKind(c);
}

QString untailored(QStringView text)
{
    QString out = text.toString();
    for (qsizetype i = 0; i < out.size(); ++i) {
        char32_t c = out[i].unicode();
        const bool pair
            = QChar::isHighSurrogate(c) && i + 1 < out.size() && out[i + 1].isLowSurrogate();
        if (pair)
            c = QChar::surrogateToUcs4(out[i], out[i + 1]);
        if (mayBeTailored(c) && tailoredScript(QChar::script(c))) {
            const char32_t stand = standIn(c);
            if (pair) {
                out[i] = QChar(QChar::highSurrogate(stand));
                out[i + 1] = QChar(QChar::lowSurrogate(stand));
            } else {
                out[i] = QChar(char16_t(stand));
            }
        }
        i += pair;
    }
    return out;
}

qint64 graphemes(QStringView text)
{
    const QString seen = untailored(text);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, seen);
    qint64 count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

Clusters leafClusters(const char *data, qint64 size, const Summary &sum)
{
    if (size <= 0)
        return {};
    if (sum.units == sum.bytes)
        return asciiClusters(data, size, sum);
    // Without places the kinds cannot tell, every cluster start but the leaf's is a sync, so
    // the leaf counts one cluster before its first sync and one from its last on.
    Clusters clusters;
    qint32 syncs = 0;
    bool unknown = false;
    const auto sync = [&](qint32 unit, qint32 byte) {
        if (clusters.firstUnit < 0) {
            clusters.firstUnit = unit;
            clusters.firstByte = byte;
        }
        clusters.lastUnit = unit;
        clusters.lastByte = byte;
    };
    const CharKind *const kinds = kindTable();
    const auto kindOfChar
        = [kinds](char32_t c) { return c < 0x10000 ? kinds[c] : supplementaryKind(c); };
    Decoded previous = decode(data);
    CharKind previousKind = kindOfChar(previous.c);
    clusters.edges = startEdges(previous.c);
    qint32 unit = previous.c >= 0x10000 ? 2 : 1;
    for (qint32 byte = previous.bytes; byte < size;) {
        if (previous.c < 0x80 && uchar(data[byte]) < 0x80) {
            // Every place in a run of ASCII after ASCII is a sync, but an LF (after its CR);
            // the line feeds, all in such runs, are taken off at the end.
            const qint32 end = asciiRunEnd(data, byte, qint32(size));
            syncs += end - byte;
            const qint32 first = data[byte] == '\n' ? byte + 1 : byte;
            if (first < end) {
                const qint32 last = data[end - 1] == '\n' ? end - 2 : end - 1;
                sync(unit + first - byte, first);
                sync(unit + last - byte, last);
            }
            unit += end - byte;
            byte = end;
            previous = { uchar(data[end - 1]), 1 };
            previousKind = kinds[previous.c];
            continue;
        }
        const Decoded next = decode(data + byte);
        const CharKind kind = kindOfChar(next.c);
        if ((previousKind == CharKind::Control && previous.c != u'\r') || kind == CharKind::Control
            || ((kind == CharKind::Starter || kind == CharKind::Syllable)
                && previousKind != CharKind::Unsafe)) {
            ++syncs;
            sync(unit, byte);
        } else if (!(kind == CharKind::Mark
                     && (previousKind == CharKind::Starter || previousKind == CharKind::Syllable
                         || previousKind == CharKind::Mark))) {
            unknown = true;
        }
        unit += next.c >= 0x10000 ? 2 : 1;
        byte += next.bytes;
        previous = next;
        previousKind = kind;
    }
    clusters.edges |= endEdges(previous.c);
    clusters.count = 1 + syncs - sum.breaks;
    if (clusters.firstUnit >= 0)
        clusters.head = clusters.tail = 1;
    if (unknown)
        countByFinder(data, size, clusters);
    return clusters;
}

Clusters joinedClusters(const Node &left, const Node &right)
{
    const Clusters &a = left.clusters;
    const Clusters &b = right.clusters;
    Clusters clusters;
    clusters.count = a.count + b.count;
    clusters.unknown = a.unknown + b.unknown;
    clusters.edges = (a.edges & (Clusters::StartsHard | Clusters::StartsSure))
        | (b.edges & (Clusters::EndsHard | Clusters::EndsSafe));
    if ((a.edges & Clusters::EndsHard) || (b.edges & Clusters::StartsHard)
        || ((a.edges & Clusters::EndsSafe) && (b.edges & Clusters::StartsSure)))
        return clusters;
    // The join may fall inside a cluster: count from the last sync before it to the first after.
    const Node *x = &left;
    while (!x->isLeaf())
        x = x->right.get();
    const Node *y = &right;
    while (!y->isLeaf())
        y = y->left.get();
    const Clusters &before = x->clusters;
    const Clusters &after = y->clusters;
    if (before.lastUnit < 0 || after.firstUnit < 0) {
        ++clusters.unknown;
        clusters.edges |= Clusters::JoinUnknown;
        return clusters;
    }
    const QString window
        = QString::fromUtf8(x->data() + before.lastByte, x->sum.bytes - before.lastByte)
        + QString::fromUtf8(y->data(), after.firstByte);
    clusters.join = qint32(graphemes(window) - before.tail - after.head);
    clusters.count += clusters.join;
    return clusters;
}

namespace {

struct Partial
{
    qint64 count = 0;
    qint64 unknown = 0;
};

// The clusters of the leaves between two leaf edges, with every join between them.
Partial leavesBetween(const Node &node, qint64 start, qint64 from, qint64 to)
{
    if (node.isLeaf() || (from <= start && start + node.sum.units <= to))
        return { node.clusters.count, node.clusters.unknown };
    const qint64 middle = start + node.left->sum.units;
    if (to <= middle)
        return leavesBetween(*node.left, start, from, to);
    if (from >= middle)
        return leavesBetween(*node.right, middle, from, to);
    const Partial a = leavesBetween(*node.left, start, from, to);
    const Partial b = leavesBetween(*node.right, middle, from, to);
    return { a.count + b.count + node.clusters.join,
             a.unknown + b.unknown + ((node.clusters.edges & Clusters::JoinUnknown) ? 1 : 0) };
}

} // namespace

ClusterSpan clusterSpan(const NodePtr &root, qint64 fromUnit, qint64 toUnit)
{
    if (!root || fromUnit >= toUnit)
        return {};
    const qint64 total = root->sum.units;
    Location first = locateUnit(root, fromUnit);
    if (first.leaf->clusters.firstUnit < 0
        || first.unitStart + first.leaf->clusters.firstUnit < fromUnit) {
        const qint64 next = first.unitStart + first.leaf->sum.units;
        if (next >= total)
            return {};
        first = locateUnit(root, next);
    }
    Location last = locateUnit(root, toUnit);
    if (last.leaf->clusters.firstUnit < 0
        || last.unitStart + last.leaf->clusters.firstUnit > toUnit) {
        if (last.unitStart == 0)
            return {};
        last = locateUnit(root, last.unitStart - 1);
    }
    const Clusters &a = first.leaf->clusters;
    const Clusters &b = last.leaf->clusters;
    if (a.firstUnit < 0 || b.firstUnit < 0)
        return {};
    const qint64 from = first.unitStart + a.firstUnit;
    const qint64 to = last.unitStart + b.firstUnit;
    if (to <= from)
        return {};
    const Partial leaves
        = leavesBetween(*root, 0, first.unitStart, last.unitStart + last.leaf->sum.units);
    if (leaves.unknown > 0)
        return {};
    // From the first leaf's first sync to the last one's.
    return { from, to, leaves.count - a.head - (b.count - b.head) };
}

} // namespace rope
