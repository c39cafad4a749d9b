#include "textbuffer.h"

#include "rope.h"
#include "storedform.h"

#include <algorithm>
#include <string>

// Replace All's side of the storage: the ranges gathered into a rewrite's change log, and the
// walk that makes them (or takes them back) over the text a slice at a time.

namespace {

constexpr qint64 RewriteSlice = 8 * 1024 * 1024;
qint64 rewriteSlice = RewriteSlice;

} // namespace

void TextBuffer::setRewriteSlice(qint64 bytes) { rewriteSlice = bytes > 0 ? bytes : RewriteSlice; }

struct TextBuffer::Rewrite::State
{
    std::shared_ptr<const rope::Node> old; // the text the ranges are in
    std::shared_ptr<RewriteLog> log = std::make_shared<RewriteLog>();
    qint64 kept = 0; // the end of the last range
    QString lastText;
    qint64 lastBytes = 0;
};

TextBuffer::Rewrite::Rewrite(std::unique_ptr<State> state) : d(std::move(state)) { }
TextBuffer::Rewrite::Rewrite(Rewrite &&) noexcept = default;
TextBuffer::Rewrite::~Rewrite() = default;

void TextBuffer::Rewrite::replace(qint64 fromByte, qint64 toByte, const QString &text)
{
    const qint64 total = rope::bytes(d->old);
    fromByte = std::clamp(fromByte, d->kept, total);
    toByte = std::clamp(toByte, fromByte, total);
    if (toByte == fromByte && text.isEmpty())
        return;
    RewriteLog &log = *d->log;
    const bool fresh = log.count == 0 || text != d->lastText;
    if (fresh) {
        const QByteArray bytes = storedform::withCrLf(text).toUtf8();
        log.newTexts.append(bytes.constData(), size_t(bytes.size()));
        d->lastText = text;
        d->lastBytes = bytes.size();
    }
    log.add(fromByte - d->kept, toByte - fromByte, d->lastBytes, fresh);
    d->kept = toByte;
}

TextBuffer::Rewrite TextBuffer::startRewrite() const
{
    auto state = std::make_unique<Rewrite::State>();
    state->old = root();
    return Rewrite(std::move(state));
}

qsizetype TextBuffer::finishRewrite(Rewrite rewrite, const RewriteSliceDone &sliceDone)
{
    Rewrite::State &d = *rewrite.d;
    if (d.log->count == 0 || d.old != root())
        return -1;
    d.old.reset();
    d.log->shrink();
    RewriteLog::Cursor start;
    RewriteRun made { positionOfByte(d.log->read(start).start), std::move(d.log) };
    made.end = made.log->count;
    TextHistory::Entry entry = m_history.prepare(made, Merge::Never);
    RewriteRun &run = std::get<RewriteRun>(entry.record());
    const Walk walk = walkRun(run, true, true, [&](qint64 changesDone) {
        if (sliceDone)
            sliceDone(run.position, changesDone, qint64(run.end - run.begin.index));
    });
    const bool complete = walk.reached.index == run.end;
    run.end = walk.reached.index;
    const Span span { run.position, positionOfByte(walk.end) - run.position };
    m_history.add(std::move(entry));
    tellRenewed();
    if (complete)
        return span.position;
    PartialRewrite partial;
    partial.span = span;
    throw partial;
}

// The walk holds the old text only ahead of it. Every slice of it the text it has made so far
// becomes the current text, so the chunks behind are let go; the slice is also how far back a
// failure falls. When it falls back to the start, std::bad_alloc goes on.
TextBuffer::Walk TextBuffer::walkRun(const RewriteRun &run, bool forward, bool recordOld,
                                     const std::function<void(qint64 changesDone)> &sliceDone)
{
    RewriteLog &log = *run.log;
    rope::Splicer splicer(root());
    Walk walk { run.begin };
    Walk done = walk;
    qint64 shown = 0;
    std::string dropped;
    qint64 lastOld = -1; // where the last old text recorded starts in its pool
    try {
        while (walk.reached.index < run.end) {
            const RewriteLog::Change change = log.read(walk.reached);
            // Where the change is in the text walked and in the text made.
            const qint64 start = change.start + run.shift;
            const qint64 from = forward ? start : start + walk.added;
            const qint64 to = forward ? start + walk.added : start;
            splicer.copyTo(from);
            bool oldFresh = change.oldFresh;
            if (recordOld) {
                dropped.clear();
                splicer.dropTo(from + change.oldBytes, &dropped);
                const qint64 pool = qint64(log.oldTexts.size());
                if (lastOld < 0
                    || QByteArrayView(dropped)
                        != QByteArrayView(log.oldTexts.data() + lastOld, pool - lastOld)) {
                    log.oldTexts += dropped;
                    log.markOldFresh(change);
                    oldFresh = true;
                    lastOld = pool;
                }
            } else {
                splicer.dropTo(from + (forward ? change.oldBytes : change.newBytes));
            }
            const QByteArrayView before
                = RewriteLog::text(log.oldTexts, walk.reached.olds, change.oldBytes, oldFresh);
            const QByteArrayView after = RewriteLog::text(log.newTexts, walk.reached.news,
                                                          change.newBytes, change.newFresh);
            const QByteArrayView put = forward ? after : before;
            splicer.insert(put.data(), put.size());
            walk.added += change.newBytes - change.oldBytes;
            walk.end = to + put.size();
            if (splicer.at() - shown >= rewriteSlice && walk.reached.index < run.end) {
                commit(splicer.current());
                done = walk;
                shown = splicer.at();
                if (sliceDone)
                    sliceDone(qint64(walk.reached.index - run.begin.index));
            }
        }
        commit(splicer.finish());
        return walk;
    } catch (const std::bad_alloc &) {
        if (done.reached.index == run.begin.index)
            throw;
    }
    return done;
}

// Undo and redo of a rewrite's step walk the text as the rewrite did, letting the text they
// leave go behind them.
TextBuffer::Span TextBuffer::replayRewrite(const RewriteRun &run, bool forward)
{
    TextHistory::Step room = m_history.prepareMove(forward);
    const Walk walk = walkRun(run, forward, false);
    m_history.breakMerge();
    tellRenewed();
    const Span span { run.position, positionOfByte(walk.end) - run.position };
    if (walk.reached.index == run.end) {
        m_history.moved(forward);
        return span;
    }
    // The changes done move to the other history; the rest stay, now after them.
    RewriteRun done = run;
    done.end = walk.reached.index;
    RewriteRun rest = run;
    rest.begin = walk.reached;
    if (forward)
        rest.shift += walk.added;
    RewriteLog::Cursor next = walk.reached;
    rest.position = positionOfByte(rest.log->read(next).start + rest.shift);
    m_history.movedPart(forward, std::move(room), std::move(done), std::move(rest));
    PartialRewrite partial;
    partial.span = span;
    throw partial;
}
