#include "layoutcache.h"

#include <algorithm>

namespace {

// Layouts kept for lines and chunks: several screens, of short lines or of long pieces. A layout
// holds some 30 bytes a character, so the characters bound the memory they take.
constexpr size_t MaxLayouts = 1000;
constexpr qsizetype MaxCharacters = 128 * 1024;

} // namespace

QTextLayout *LayoutCache::find(qsizetype line, qsizetype piece)
{
    const auto found = m_layouts.find({ line, piece });
    if (found == m_layouts.end())
        return nullptr;
    m_ages.splice(m_ages.end(), m_ages, found->second.age);
    return found->second.layout.get();
}

const QTextLayout *LayoutCache::peek(qsizetype line, qsizetype piece) const
{
    const auto found = m_layouts.find({ line, piece });
    return found == m_layouts.end() ? nullptr : found->second.layout.get();
}

QTextLayout *LayoutCache::keep(qsizetype line, qsizetype piece, std::unique_ptr<QTextLayout> layout)
{
    const Key key { line, piece };
    // Several screens are kept; past that the least recently used go, about one for each new
    // one, so that no paint pays for dropping many.
    const qsizetype characters = layout->text().size();
    while (!m_ages.empty()
           && (m_layouts.size() >= MaxLayouts || m_characters + characters > MaxCharacters))
        erase(m_layouts.find(m_ages.front()));
    QTextLayout *result = layout.get();
    m_ages.push_back(key);
    try {
        m_layouts.emplace(
            key, Entry { std::move(layout), std::prev(m_ages.end()), m_nextSerial++, characters });
        m_characters += characters;
    } catch (...) {
        m_ages.pop_back();
        throw;
    }
    return result;
}

bool LayoutCache::keptBefore(qsizetype line, qsizetype piece, quint64 serial) const
{
    const auto found = m_layouts.find({ line, piece });
    return found != m_layouts.end() && found->second.serial < serial;
}

LayoutCache::Layouts::iterator LayoutCache::erase(Layouts::iterator entry)
{
    m_characters -= entry->second.characters;
    m_ages.erase(entry->second.age);
    return m_layouts.erase(entry);
}

template<typename Rekey>
void LayoutCache::rekey(const Rekey &moved)
{
    std::vector<Layouts::node_type> nodes;
    for (auto entry = m_layouts.begin(); entry != m_layouts.end();) {
        const Key key = moved(entry->first);
        if (key == entry->first) {
            ++entry;
        } else if (key.line < 0) {
            entry = erase(entry);
        } else {
            nodes.push_back(m_layouts.extract(entry++));
            nodes.back().key() = key;
        }
    }
    for (Layouts::node_type &node : nodes) {
        *node.mapped().age = node.key();
        m_layouts.insert(std::move(node));
    }
}

LayoutCache::Lists::iterator LayoutCache::listAt(qsizetype line)
{
    return std::lower_bound(m_lists.begin(), m_lists.end(), line,
                            [](const auto &entry, qsizetype at) { return entry.first < at; });
}

LayoutCache::PieceList *LayoutCache::pieces(qsizetype line)
{
    const auto found = listAt(line);
    return found != m_lists.end() && found->first == line ? found->second.get() : nullptr;
}

LayoutCache::PieceList &LayoutCache::setPieces(qsizetype line, std::vector<qsizetype> starts,
                                               qsizetype length)
{
    auto list = std::make_unique<PieceList>();
    list->measures.assign(starts.size(), 0);
    list->starts = std::move(starts);
    list->length = length;
    PieceList &result = *list;
    const auto found = listAt(line);
    if (found != m_lists.end() && found->first == line)
        found->second = std::move(list);
    else
        m_lists.emplace(found, line, std::move(list));
    lineRedrawn(line);
    return result;
}

void LayoutCache::dropPieces(qsizetype line)
{
    const auto found = listAt(line);
    if (found != m_lists.end() && found->first == line)
        m_lists.erase(found);
    lineRedrawn(line);
}

void LayoutCache::reopenFront(qsizetype line, qsizetype count)
{
    ++m_changes;
    PieceList *list = pieces(line);
    if (!list)
        return;
    count = std::clamp<qsizetype>(count, 0, qsizetype(list->starts.size()));
    list->starts.erase(list->starts.begin(), list->starts.begin() + count);
    list->measures.erase(list->measures.begin(), list->measures.begin() + count);
    list->gapAt = 0;
    list->gapFrom = 0;
    list->rowsChanged(0);
    lineRedrawn(line);
}

void LayoutCache::lineRedrawn(qsizetype line)
{
    // A line cut into pieces when first seen had nothing drawn to change.
    for (auto entry = m_layouts.lower_bound({ line, 0 });
         entry != m_layouts.end() && entry->first.line == line;) {
        entry = erase(entry);
        ++m_changes;
    }
}

void LayoutCache::clearLayouts()
{
    ++m_changes;
    m_layouts.clear();
    m_ages.clear();
    m_characters = 0;
    for (auto &[line, list] : m_lists) {
        std::fill(list->measures.begin(), list->measures.end(), 0);
        list->rowsChanged(0);
    }
}

void LayoutCache::clear()
{
    ++m_changes;
    m_layouts.clear();
    m_ages.clear();
    m_characters = 0;
    m_lists.clear();
}

// The layouts of lines and pieces an edit did not touch stay, under their new numbers: a Return
// at the top lays out one line, not the screen, and a key in a long line one piece.
void LayoutCache::linesReplaced(qsizetype first, qsizetype oldLast, qsizetype delta,
                                const Kept &kept)
{
    ++m_changes;
    const qsizetype newLast = oldLast + delta;
    const qsizetype tailIndex = newLast == first ? kept.head : 0;
    try {
        const auto begin = listAt(first);
        if (first == oldLast && delta == 0) {
            // Within one line, the common case of a key: its list changes in place, and its
            // layouts move once, when the gap is cut (usually not at all).
            if (begin != m_lists.end() && begin->first == first)
                cutOut(*begin->second, kept);
            else if (const auto found = m_layouts.find({ first, 0 }); found != m_layouts.end())
                erase(found);
            return;
        }
        rekey([&](const Key &key) -> Key {
            if (key.line < first)
                return key;
            if (key.line > oldLast)
                return { key.line + delta, key.piece };
            if (key.line == first && key.piece < kept.head)
                return key;
            if (key.line == oldLast && kept.tailFrom >= 0 && key.piece >= kept.tailFrom)
                return { newLast, key.piece - kept.tailFrom + tailIndex };
            return { -1, 0 };
        });

        auto end = begin;
        while (end != m_lists.end() && end->first <= oldLast)
            ++end;
        PieceList *oldFirst = begin != end && begin->first == first ? begin->second.get() : nullptr;
        PieceList *oldEnd = begin != end && std::prev(end)->first == oldLast
            ? std::prev(end)->second.get()
            : nullptr;
        if (kept.tailFrom < 0 || (oldEnd && kept.tailFrom >= qsizetype(oldEnd->starts.size())))
            oldEnd = nullptr;

        // Each new list has its gap where the edit was: after the head, before the tail.
        const auto headOf = [&] {
            auto list = std::make_unique<PieceList>();
            const qsizetype head = std::min<qsizetype>(kept.head, oldFirst->starts.size());
            list->starts.assign(oldFirst->starts.begin(), oldFirst->starts.begin() + head);
            list->measures.assign(oldFirst->measures.begin(), oldFirst->measures.begin() + head);
            list->gapAt = head;
            list->gapFrom = head < qsizetype(oldFirst->starts.size())
                ? oldFirst->starts[size_t(head)]
                : oldFirst->length;
            list->rightToLeft = head > 0 ? oldFirst->rightToLeft : -1;
            list->wrapped = oldFirst->wrapped;
            return list;
        };
        const auto appendTail = [&](PieceList &list) {
            for (size_t i = size_t(kept.tailFrom); i < oldEnd->starts.size(); ++i) {
                list.starts.push_back(oldEnd->starts[i] + kept.tailShift);
                list.measures.push_back(oldEnd->measures[i]);
            }
        };
        std::unique_ptr<PieceList> firstList;
        std::unique_ptr<PieceList> lastList;
        if (oldFirst)
            firstList = headOf();
        if (oldEnd) {
            if (newLast != first || !firstList) {
                lastList = std::make_unique<PieceList>();
                lastList->gapAt = 0;
                lastList->wrapped = oldEnd->wrapped;
            }
            appendTail(newLast == first && firstList ? *firstList : *lastList);
        }
        if (newLast == first && lastList)
            std::swap(firstList, lastList);

        const auto after = m_lists.erase(begin, end);
        for (auto entry = after; entry != m_lists.end(); ++entry)
            entry->first += delta;
        auto at = after;
        if (lastList)
            at = m_lists.emplace(at, newLast, std::move(lastList));
        if (firstList)
            m_lists.emplace(at, first, std::move(firstList));
    } catch (const std::bad_alloc &) {
        clear(); // it is only a cache
    }
}

void LayoutCache::cutOut(PieceList &list, const Kept &kept)
{
    const qsizetype count = qsizetype(list.starts.size());
    const qsizetype head = std::clamp<qsizetype>(kept.head, 0, count);
    const qsizetype tail = kept.tailFrom < 0 ? count : std::clamp(kept.tailFrom, head, count);
    list.gapFrom = head < count ? list.starts[size_t(head)] : list.length;
    for (size_t i = size_t(tail); i < size_t(count); ++i)
        list.starts[i] += kept.tailShift;
    list.starts.erase(list.starts.begin() + head, list.starts.begin() + tail);
    list.measures.erase(list.measures.begin() + head, list.measures.begin() + tail);
    list.gapAt = head;
    list.gapRemoved = tail - head;
    list.rowsChanged(head);
    if (head == 0)
        list.rightToLeft = -1;
}

void LayoutCache::fillGap(qsizetype line, const std::vector<qsizetype> &starts, qsizetype merged,
                          qsizetype length)
{
    ++m_changes;
    PieceList *list = pieces(line);
    if (!list || list->gapAt < 0)
        return;
    const qsizetype at = list->gapAt;
    const qsizetype added = qsizetype(starts.size());
    merged = std::clamp<qsizetype>(merged, 0, qsizetype(list->starts.size()) - at);
    // Layouts are still under the pieces' numbers before the edit when it was within the line.
    const qsizetype gone = list->gapRemoved + merged;
    if (gone == added) {
        // As many pieces as before: only theirs go, found by their keys.
        for (qsizetype piece = at; piece < at + gone; ++piece) {
            if (const auto found = m_layouts.find({ line, piece }); found != m_layouts.end())
                erase(found);
        }
    } else {
        rekey([&](const Key &key) -> Key {
            if (key.line != line || key.piece < at)
                return key;
            if (key.piece < at + gone)
                return { -1, 0 };
            return { line, key.piece - gone + added };
        });
    }
    list->gapRemoved = 0;
    list->starts.erase(list->starts.begin() + at, list->starts.begin() + at + merged);
    list->measures.erase(list->measures.begin() + at, list->measures.begin() + at + merged);
    list->starts.insert(list->starts.begin() + at, starts.begin(), starts.end());
    list->measures.insert(list->measures.begin() + at, size_t(added), 0);
    list->length = length;
    list->gapAt = -1;
    list->rowsChanged(at);
    if (at == 0)
        list->rightToLeft = -1;
}
