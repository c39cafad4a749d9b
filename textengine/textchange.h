#pragma once

#include "textslice.h"

#include <QtGlobal>

#include <functional>
#include <variant>

// One change of the text, as the storage makes it, in the order made. Whoever keeps a copy of the
// text elsewhere (the recovery journal) replays these on it; the inserted text shares the
// storage's immutable chunks, so passing a change on costs nothing in proportion to its size.

// The units from position to position + removed were replaced by inserted.
struct TextReplaced
{
    qsizetype position = 0;
    qsizetype removed = 0;
    TextSlice inserted;
};

// The whole text is new: a new or loaded text, or a rewrite of many places at once.
struct TextRenewed
{
    TextSlice text;
};

using TextChange = std::variant<TextReplaced, TextRenewed>;
// Called after the change is made; it must not throw.
using TextChangeListener = std::function<void(const TextChange &)>;
