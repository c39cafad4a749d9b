#include "texthistory.h"

#include "rope.h"

#include <algorithm>
#include <optional>

namespace {

// Room for one more element, counted as an allocation of the storage when it takes one.
template<typename T>
void reserveOneMore(std::vector<T> &list)
{
    if (list.size() < list.capacity())
        return;
    rope::countAllocation();
    list.reserve(std::max<size_t>(8, list.capacity() * 2));
}

rope::NodePtr concatenated(const rope::NodePtr &a, const rope::NodePtr &b)
{
    rope::Builder builder;
    builder.appendTree(a);
    builder.appendTree(b);
    return builder.tree();
}

// The step's last edit and the new one as one edit, when the new one goes on from it.
std::optional<Replacement> mergedWith(const EditRecord &lastRecord, const Replacement &edit)
{
    const auto *last = std::get_if<Replacement>(&lastRecord);
    if (!last)
        return std::nullopt;
    // Typing over a selection and going on typing is one step.
    if (!edit.removed && last->inserted
        && edit.position == last->position + rope::units(last->inserted))
        return Replacement { last->position, last->removed,
                             concatenated(last->inserted, edit.inserted) };
    if (edit.inserted || last->inserted)
        return std::nullopt;
    if (edit.position + rope::units(edit.removed) == last->position)
        return Replacement { edit.position, concatenated(edit.removed, last->removed), nullptr };
    if (edit.position == last->position)
        return Replacement { last->position, concatenated(last->removed, edit.removed), nullptr };
    return std::nullopt;
}

} // namespace

TextHistory::Entry TextHistory::prepare(const EditRecord &record, Merge merge)
{
    Entry entry;
    entry.merge = merge;
    const auto *edit = std::get_if<Replacement>(&record);
    if (edit && m_groupDepth == 0 && merge == Merge::Typing && m_mergeOpen && !m_undo.empty()) {
        if (std::optional<Replacement> merged = mergedWith(m_undo.back().back(), *edit)) {
            entry.m_record = std::move(*merged);
            entry.merged = true;
            return entry;
        }
    }
    reserveOneMore(m_undo);
    entry.grouped = edit && m_groupDepth > 0 && m_groupStarted;
    if (entry.grouped)
        reserveOneMore(m_undo.back());
    else
        reserveOneMore(entry.alone);
    entry.m_record = record;
    return entry;
}

// Nothing here allocates: the room was made before.
void TextHistory::add(Entry entry) noexcept
{
    m_redo.clear();
    if (entry.merged) {
        m_undo.back().back() = std::move(entry.m_record);
        return;
    }
    if (entry.grouped) {
        m_undo.back().push_back(std::move(entry.m_record));
        return;
    }
    // A group goes on in a step after a rewrite's, which stays alone.
    const bool rewrite = std::holds_alternative<RewriteRun>(entry.m_record);
    entry.alone.push_back(std::move(entry.m_record));
    m_undo.push_back(std::move(entry.alone));
    if (m_groupDepth > 0)
        m_groupStarted = !rewrite;
    else
        m_mergeOpen = entry.merge == Merge::Typing;
}

void TextHistory::beginGroup()
{
    if (m_groupDepth++ == 0)
        m_groupStarted = false;
    m_mergeOpen = false;
}

void TextHistory::endGroup()
{
    if (m_groupDepth > 0)
        --m_groupDepth;
    m_mergeOpen = false;
}

void TextHistory::clear()
{
    m_undo.clear();
    m_redo.clear();
    m_mergeOpen = false;
}

const TextHistory::Step *TextHistory::next(bool forward) const
{
    const std::vector<Step> &steps = forward ? m_redo : m_undo;
    return steps.empty() ? nullptr : &steps.back();
}

TextHistory::Step TextHistory::prepareMove(bool forward)
{
    reserveOneMore(to(forward));
    Step room;
    if (std::holds_alternative<RewriteRun>(from(forward).back().front()))
        reserveOneMore(room);
    return room;
}

void TextHistory::moved(bool forward) noexcept
{
    to(forward).push_back(std::move(from(forward).back()));
    from(forward).pop_back();
    m_mergeOpen = false;
}

void TextHistory::movedPart(bool forward, Step room, RewriteRun done, RewriteRun rest) noexcept
{
    room.push_back(std::move(done));
    to(forward).push_back(std::move(room));
    from(forward).back().front() = std::move(rest);
    m_mergeOpen = false;
}
