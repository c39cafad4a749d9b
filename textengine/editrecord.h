#pragma once

#include "rewritelog.h"

#include <QtGlobal>

#include <memory>
#include <variant>

namespace rope {
struct Node;
} // namespace rope

// One edit as the storage makes it: enough to make it again and to take it back. The history
// keeps these; the listener of the text's changes is told each as a TextChange.

// The units from position that held removed hold inserted; the texts share the storage's chunks.
struct Replacement
{
    qsizetype position = 0;
    std::shared_ptr<const rope::Node> removed;
    std::shared_ptr<const rope::Node> inserted;

    // The same edit taken back.
    Replacement reversed() const { return { position, inserted, removed }; }
};

// A run of a rewrite's changes that are made and taken back together, from the change at begin
// to the one before end. A change's start is a byte of the text before the rewrite; shift is
// what to add to it in the text as it stands without the run's changes made. position is where
// the run's first change is.
struct RewriteRun
{
    qsizetype position = 0;
    std::shared_ptr<RewriteLog> log;
    RewriteLog::Cursor begin;
    size_t end = 0;
    qint64 shift = 0;
};

using EditRecord = std::variant<Replacement, RewriteRun>;
