#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

// The tree under TextBuffer: UTF-8 chunks of text in the leaves of a height-balanced binary tree
// whose nodes never change once built, so versions of the text (the current one and those the
// undo history keeps) share every node they have in common.
//
// The text in it is always in CR LF form, and a leaf never ends between a CR and its LF nor
// inside a UTF-8 sequence, so every count below adds up from the leaves.
namespace rope {

// Counts of a piece of text. Units are UTF-16 code units, the text's positions; the line
// figures are in units and leave out the CR LF.
struct Summary
{
    qint64 units = 0;
    qint64 bytes = 0;
    qint64 breaks = 0;
    qint64 first = 0; // before the first break (the whole piece when it has none)
    qint64 last = 0; // after the last break
    qint64 longest = 0; // the longest line between two breaks of the piece

    qint64 longestLine() const { return std::max({ first, last, longest }); }
    bool operator==(const Summary &) const = default;
};

Summary operator+(const Summary &a, const Summary &b);

// What a piece knows of its clusters (what the user sees as one character), so that they are
// counted between any two places in O(log n). A leaf counts its clusters on its own, as if it
// began the text; that count holds from its first sync on: a place inside it where a cluster
// starts whatever came before. A node adds, for the join of its children, what the leaf after
// the join gains or loses before its first sync by what precedes it; found from the text between
// the last sync before the join and the first one after it, so it is exact, unless a leaf beside
// the join has no sync at all (a leaf of nothing but marks or flags, say): such joins are counted
// in `unknown`, and a count over them is made from the text instead.
struct Clusters
{
    enum Edge : quint8 {
        StartsHard = 1, // the first character starts a cluster whatever precedes it (a control)
        StartsSure = 2, // ... unless it follows a character that may be a prefix
        EndsHard = 4, // a cluster starts after the last character whatever follows (a control)
        EndsSafe = 8, // the last character is known to be no prefix
        JoinUnknown = 16, // the node's own join is among `unknown`
    };
    qint64 count = 0;
    qint64 unknown = 0;
    qint32 join = 0; // a node's: what its join adds to its children's counts
    // A leaf's first and last sync (-1: none), in units and bytes from its start, and the
    // clusters it counts before the first and from the last.
    qint32 firstUnit = -1;
    qint32 firstByte = 0;
    qint32 lastUnit = -1;
    qint32 lastByte = 0;
    qint32 head = 0;
    qint32 tail = 0;
    quint8 edges = 0;

    bool operator==(const Clusters &) const = default;
};

struct Node;
using NodePtr = std::shared_ptr<const Node>;

struct Node
{
    Node();
    ~Node();
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    Summary sum;
    Clusters clusters;
    int height = 0; // 0 for a leaf
    int lastLeafBytes = 0; // the size of the last leaf under the node
    NodePtr left;
    NodePtr right;
    std::unique_ptr<char[]> bytes; // a leaf's text

    bool isLeaf() const { return height == 0; }
    const char *data() const { return bytes.get(); }
};

// Leaves are filled to about this many bytes when text is appended. A test build makes them a
// few bytes long, so that small texts have many leaves and every edit meets their joins.
#ifdef QUORVEX_LEAF_BYTES
constexpr qint64 LeafBytes = QUORVEX_LEAF_BYTES;
static_assert(LeafBytes >= 4, "a leaf must hold a character of four bytes");
#else
constexpr qint64 LeafBytes = 4096;
#endif
// The longest leaf: a leaf is cut at a character outside a CR LF at or before LeafBytes, and
// the bytes up to here give room to find one.
constexpr qint64 MostLeafBytes = LeafBytes + 16;
// A leaf smaller than this is merged with what follows it when the text around it is rebuilt.
constexpr qint64 SmallLeafBytes = LeafBytes / 4;

inline qint64 units(const NodePtr &node) { return node ? node->sum.units : 0; }
inline qint64 bytes(const NodePtr &node) { return node ? node->sum.bytes : 0; }
inline const Summary &summary(const NodePtr &node)
{
    static const Summary empty;
    return node ? node->sum : empty;
}

NodePtr makeLeaf(const char *data, qint64 size);
NodePtr join(const NodePtr &a, const NodePtr &b);

// Debug helper: the first fault found in the tree's invariants, or an empty string. Every node
// is balanced (its children's heights differ by one at most) and its counts are the sums of its
// children's; every leaf holds 1 to MostLeafBytes bytes of text in CR LF form (at least
// SmallLeafBytes but for the last) with counts that are its text's, and neither starts nor ends
// inside a character or between CR and LF. O(n).
std::string faultIn(const NodePtr &root);

// Testing seam: the given number of node allocations from now succeed and the next one throws
// std::bad_alloc; a negative count turns it off.
void failAllocationAfter(qint64 count);
// Counts one allocation against the seam above; throws when it says so.
void countAllocation();
// Testing seam: how many nodes there are, and the most there were at once since resetPeak().
struct NodeCount
{
    qint64 live = 0;
    qint64 peak = 0;
};
NodeCount nodeCount();
void resetPeak();

// Where a position falls: the leaf that holds it, and the position and byte at which that leaf
// starts in the whole text.
struct Location
{
    const Node *leaf = nullptr;
    qint64 unitStart = 0;
    qint64 byteStart = 0;
    qint64 breaksBefore = 0;
};
// The leaf holding the unit at the given position (the last leaf at the end of the text).
Location locateUnit(const NodePtr &root, qint64 position);
// The leaf holding the byte (the last leaf at the end of the text).
Location locateByte(const NodePtr &root, qint64 byte);
// The leaf holding the break that ends the given line (1-based count of breaks).
Location locateBreak(const NodePtr &root, qint64 breakNumber);

// Clusters between two syncs found near a range: from the first leaf's first sync at or after
// `from` (in its leaf or the next) to the last leaf's first sync at or before `to` (in its leaf
// or the one before). Empty (from == to) when there are no such two, or when the count over them
// is not known from the nodes.
struct ClusterSpan
{
    qint64 from = 0;
    qint64 to = 0;
    qint64 clusters = 0;
};
ClusterSpan clusterSpan(const NodePtr &root, qint64 fromUnit, qint64 toUnit);

// Within one leaf: the byte of the character that holds the unit, and whether the unit is the
// second half of a surrogate pair.
struct Offset
{
    qint64 byte = 0;
    bool inPair = false;
};
// The scan may start from a character boundary known to be at or before the unit.
Offset byteOfUnit(const Node &leaf, qint64 unit, qint64 fromUnit = 0, qint64 fromByte = 0);
// The scan may start from a character boundary known to be at or before the byte.
qint64 unitOfByte(const Node &leaf, qint64 byte, qint64 fromByte = 0, qint64 fromUnit = 0);

// Gathers pieces of text in order into a new tree. Whole subtrees are taken over as they are;
// bytes are packed into full leaves; a small piece next to a subtree is merged with that
// subtree's first leaf, and a subtree's small last leaf with what follows it, so edits do not
// leave a trail of small leaves: all leaves but the last hold SmallLeafBytes at least. Leaves
// are joined as they come, so a build costs O(pieces * log n) and appending leaf after leaf is
// linear.
class Builder
{
public:
    Builder();
    // Complete text in CR LF form.
    void appendBytes(const char *data, qint64 size);
    void appendTree(const NodePtr &node);
    void appendSlice(const NodePtr &node, qint64 fromUnit, qint64 toUnit);
    // The tree of everything appended so far; the builder can go on after it.
    NodePtr tree() const;
    // How many bytes can be appended without making a leaf, and so without allocating, once
    // some are pending.
    qint64 room() const { return MostLeafBytes - qint64(m_pending.size()); }

    // What a failed append restores.
    struct State
    {
        std::vector<NodePtr> stack;
        std::string pending;
    };
    State state() const { return { m_stack, m_pending }; }
    void restore(State state);

private:
    void appendLeaf(const Node &leaf);
    void push(NodePtr node);
    void reopenSmallEnd();
    void cutLeaf();
    void flush();

    std::vector<NodePtr> m_stack; // heights strictly decreasing
    std::string m_pending;
    // The last place byteOfUnit() found, so many slices of one leaf scan it once.
    const Node *m_hintLeaf = nullptr;
    qint64 m_hintUnit = 0;
    qint64 m_hintByte = 0;
};

// Walks a tree from its start beside byte places that come in order, building a new text of the
// old one's pieces and new bytes: whole subtrees between two places are taken over as they are,
// and only the leaves a place falls in are copied. The walk holds only what lies ahead of it, so
// the nodes it has passed are freed as soon as nothing else holds them.
class Splicer
{
public:
    explicit Splicer(NodePtr old);
    // The byte of the old text the walk has reached.
    qint64 at() const { return m_at; }
    // Appends the old text up to the byte, which starts a character outside a CR LF.
    void copyTo(qint64 byte) { walk(byte, nullptr, true); }
    // Passes over the old text up to the byte, appending its bytes to dropped when given.
    void dropTo(qint64 byte, std::string *dropped = nullptr) { walk(byte, dropped, false); }
    // Complete text in CR LF form.
    void insert(const char *data, qint64 size) { m_builder.appendBytes(data, size); }
    // The new text so far followed by the old text from the walk's place on.
    NodePtr current() const;
    // Appends the rest of the old text and gives the new tree.
    NodePtr finish();

private:
    struct Piece
    {
        NodePtr node;
        qint64 start;
    };
    void walk(qint64 to, std::string *dropped, bool copy);

    Builder m_builder;
    std::vector<Piece> m_rest; // what follows the current leaf, the nearest last
    NodePtr m_leaf;
    qint64 m_leafStart = 0;
    qint64 m_at = 0;
};

// Hands the leaves of the tree under node, which starts at byte start, in order to
// visit(bytes, startByte): from the one holding fromByte on, until visit returns false.
template<typename Visit>
bool visitForward(const Node &node, qint64 start, qint64 fromByte, const Visit &visit)
{
    if (node.isLeaf())
        return visit(QByteArrayView(node.data(), node.sum.bytes), start);
    const qint64 leftBytes = node.left->sum.bytes;
    if (fromByte < start + leftBytes && !visitForward(*node.left, start, fromByte, visit))
        return false;
    return visitForward(*node.right, start + leftBytes, fromByte, visit);
}

// The same backwards, from the leaf holding the byte before beforeByte.
template<typename Visit>
bool visitBackward(const Node &node, qint64 start, qint64 beforeByte, const Visit &visit)
{
    if (node.isLeaf())
        return visit(QByteArrayView(node.data(), node.sum.bytes), start);
    const qint64 leftBytes = node.left->sum.bytes;
    if (beforeByte > start + leftBytes
        && !visitBackward(*node.right, start + leftBytes, beforeByte, visit))
        return false;
    return visitBackward(*node.left, start, beforeByte, visit);
}

// The text between two positions, sharing what it can.
NodePtr slice(const NodePtr &root, qint64 fromUnit, qint64 toUnit);
// The text with the units between from and to replaced by the given tree.
NodePtr replaced(const NodePtr &root, qint64 from, qint64 to, const NodePtr &with);

} // namespace rope
