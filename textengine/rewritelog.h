#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The changes of a rewrite, in order: for each, the bytes between it and the one before in the
// text before the rewrite, the length of the text it replaced and the length of the text it put
// there, as variable-length numbers, mostly a byte each. The texts themselves are kept once for
// every run of changes with the same text: a length's lowest bit marks the change whose text is
// new, the next one in its pool.
class RewriteLog
{
public:
    struct Change
    {
        qint64 start = 0;
        qint64 oldBytes = 0;
        qint64 newBytes = 0;
        bool oldFresh = false;
        bool newFresh = false;
        qint64 oldCode = 0; // where the old length is written
    };
    // Where a walk reads one of the two pools of texts (the replaced and the replacing).
    struct TextsRead
    {
        qint64 at = 0;
        qint64 lastAt = 0;
        qint64 lastSize = 0;
    };
    // Where a walk of the changes stands.
    struct Cursor
    {
        size_t index = 0;
        qint64 code = 0; // where the change's place is written
        qint64 kept = 0; // where the change before it ends
        TextsRead olds;
        TextsRead news;
    };

    void add(qint64 gap, qint64 oldBytes, qint64 newBytes, bool newFresh)
    {
        put(quint64(gap));
        put(quint64(oldBytes) << 1);
        put(quint64(newBytes) << 1 | quint64(newFresh));
        ++count;
    }
    // The change at the cursor, which moves on past its place (not past its texts).
    Change read(Cursor &at) const
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
