#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

namespace rope {
struct Node;
} // namespace rope

// A piece of text that never changes once taken, whatever is edited afterwards: it shares the
// immutable chunks of the storage it came from, so taking even the whole text costs O(log n),
// and it is turned into characters only when asked for. Line breaks are CR LF.
class TextSlice
{
public:
    TextSlice() = default;
    // A text of its own, with line breaks in any form turned into CR LF.
    explicit TextSlice(QStringView text);
    // The same from valid UTF-8, with nothing decoded.
    static TextSlice fromUtf8(QByteArrayView utf8);

    qsizetype length() const;
    bool isEmpty() const { return length() == 0; }
    QString toString() const;
    // Copied straight from the chunks, with nothing decoded.
    QByteArray toUtf8() const;
    // The text as stored, in UTF-8, and its chunks in order until visit returns false. The
    // chunks never change, so any thread may read them while the text is edited elsewhere.
    qint64 byteLength() const;
    void readUtf8(const std::function<bool(QByteArrayView)> &visit) const;
    // What the user sees as characters between two places near from and to where a cluster
    // starts for sure (from <= span.from < span.to <= to), counted in O(log n) from the counts
    // the storage keeps; an empty span when there are no such places or the count is not known.
    struct ClusterSpan
    {
        qsizetype from = 0;
        qsizetype to = 0;
        qsizetype clusters = 0;
    };
    ClusterSpan clusterSpan(qsizetype from, qsizetype to) const;
    // Debug helper: the first invariant that the storage's tree under the text breaks (see
    // rope::faultIn), or an empty text when it breaks none.
    QString treeFault() const;

private:
    friend class TextBuffer;
    explicit TextSlice(std::shared_ptr<const rope::Node> tree) : m_tree(std::move(tree)) { }

    std::shared_ptr<const rope::Node> m_tree;
};
