#pragma once

#include "editrecord.h"

#include <vector>

// The undo and redo histories: steps of edit records, the last at the back. Consecutive typed
// insertions (or deletions) at the caret merge into one step until breakMerge() is called or an
// edit of another kind comes; the edits between beginGroup() and endGroup() are one step; a
// rewrite's run is always a step of its own.
//
// An edit stays all-or-nothing, so filing it has two halves: prepare() takes whatever may fail
// (room, a merged text) before the text changes, add() files it once the text has changed and
// cannot fail. Undo and redo go the same way: the storage takes back (or makes again) the step
// next() gives, with the room prepareMove() made, then moved() files it in the other history.
class TextHistory
{
public:
    enum class Merge { Never, Typing };
    using Step = std::vector<EditRecord>;

    // An edit ready to be filed, with the room it takes.
    class Entry
    {
    public:
        // What will be filed, which an edit that learns its extent as it goes completes.
        EditRecord &record() { return m_record; }

    private:
        friend class TextHistory;
        EditRecord m_record;
        Step alone;
        Merge merge = Merge::Never;
        bool grouped = false;
        bool merged = false;
    };
    // Throws std::bad_alloc and changes nothing when memory runs out.
    Entry prepare(const EditRecord &record, Merge merge);
    void add(Entry entry) noexcept;

    void beginGroup();
    void endGroup();
    void breakMerge() { m_mergeOpen = false; }
    void clear();
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }

    // The step an undo (forward false) or a redo takes, or null when there is none.
    const Step *next(bool forward) const;
    // Room for the next step in the other history, and, for a rewrite's run, room for the part
    // of it a walk stopped part way has done. Throws std::bad_alloc and changes nothing.
    Step prepareMove(bool forward);
    // The next step has been made: it goes to the other history.
    void moved(bool forward) noexcept;
    // The rewrite's run that is the next step was made only up to a change: the part done goes
    // to the other history in the room prepared, and the rest stays.
    void movedPart(bool forward, Step room, RewriteRun done, RewriteRun rest) noexcept;

private:
    std::vector<Step> &from(bool forward) { return forward ? m_redo : m_undo; }
    std::vector<Step> &to(bool forward) { return forward ? m_undo : m_redo; }

    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    int m_groupDepth = 0;
    bool m_groupStarted = false;
    bool m_mergeOpen = false;
};
