#include "layoutcache.h"

#include <algorithm>

namespace {

// Layouts kept for lines and chunks: several screens.
constexpr size_t MaxLayouts = 1000;

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
    // Several screens are kept; past that the least recently used goes, one for each new one,
    // so that no paint pays for dropping many.
    if (m_layouts.size() >= MaxLayouts)
        erase(m_layouts.find(m_ages.front()));
    QTextLayout *result = layout.get();
    m_ages.push_back(key);
    try {
        m_layouts.emplace(key, Entry { std::move(layout), std::prev(m_ages.end()) });
    } catch (...) {
        m_ages.pop_back();
        throw;
    }
    return result;
}

LayoutCache::Layouts::iterator LayoutCache::erase(Layouts::iterator entry)
{
    m_ages.erase(entry->second.age);
    return m_layouts.erase(entry);
}

std::vector<qreal> &LayoutCache::measures(qsizetype line, qsizetype pieces)
{
    std::vector<qreal> &list = m_measures[line];
    if (qsizetype(list.size()) != pieces)
        list.resize(size_t(std::max<qsizetype>(0, pieces)), 0);
    return list;
}

qreal LayoutCache::measure(qsizetype line, qsizetype piece) const
{
    const auto found = m_measures.find(line);
    if (found == m_measures.end() || piece < 0 || size_t(piece) >= found->second.size())
        return 0;
    return found->second[size_t(piece)];
}

void LayoutCache::lineRedrawn(qsizetype line)
{
    for (auto entry = m_layouts.begin(); entry != m_layouts.end();)
        entry = entry->first.line == line ? erase(entry) : std::next(entry);
}

void LayoutCache::clear()
{
    m_layouts.clear();
    m_ages.clear();
    m_measures.clear();
}

// The layouts of lines an edit did not touch stay, under their new numbers: a Return at the top
// lays out one line, not the screen.
void LayoutCache::linesReplaced(qsizetype first, qsizetype oldLast, qsizetype delta)
{
    try {
        std::vector<Layouts::node_type> moved;
        moved.reserve(m_layouts.size());
        for (auto entry = m_layouts.begin(); entry != m_layouts.end();) {
            const qsizetype line = entry->first.line;
            if (line < first || (line > oldLast && delta == 0))
                ++entry;
            else if (line <= oldLast)
                entry = erase(entry);
            else
                moved.push_back(m_layouts.extract(entry++));
        }
        for (Layouts::node_type &node : moved) {
            node.key().line += delta;
            *node.mapped().age = node.key();
            m_layouts.insert(std::move(node));
        }

        auto entry = m_measures.upper_bound(first);
        while (entry != m_measures.end() && entry->first <= oldLast)
            entry = m_measures.erase(entry);
        if (delta != 0) {
            std::vector<decltype(m_measures)::node_type> movedMeasures;
            while (entry != m_measures.end())
                movedMeasures.push_back(m_measures.extract(entry++));
            for (auto &node : movedMeasures) {
                node.key() += delta;
                m_measures.insert(m_measures.end(), std::move(node));
            }
        }
    } catch (const std::bad_alloc &) {
        clear(); // it is only a cache
    }
}

void LayoutCache::piecesChanged(qsizetype line, qsizetype from, qsizetype pieces)
{
    const auto found = m_measures.find(line);
    if (found == m_measures.end())
        return;
    found->second.resize(size_t(std::max<qsizetype>(0, pieces)), 0);
    std::fill(found->second.begin() + std::clamp<qsizetype>(from, 0, pieces), found->second.end(),
              0);
}
