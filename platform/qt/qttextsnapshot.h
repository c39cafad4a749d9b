#pragma once

#include "text.h"
#include "textslice.h"

// A snapshot of the text box's text: a slice sharing the storage's chunks.
class QtTextSnapshot : public TextSnapshot
{
public:
    explicit QtTextSnapshot(TextSlice slice) : m_slice(std::move(slice)) { }
    qsizetype length() const override { return m_slice.length(); }
    QString toString() const override { return m_slice.toString(); }

    const TextSlice &slice() const { return m_slice; }
    // The slice of any snapshot: its own when it came from a text box, else its text taken in.
    static TextSlice sliceOf(const TextSnapshot &snapshot)
    {
        const auto *own = dynamic_cast<const QtTextSnapshot *>(&snapshot);
        return own ? own->m_slice : TextSlice(snapshot.toString());
    }

private:
    TextSlice m_slice;
};
