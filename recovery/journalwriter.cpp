#include "journalwriter.h"

#include "failure.h"
#include "journalformat.h"
#include "statefolder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <chrono>

using namespace Qt::StringLiterals;
using namespace JournalFormat;

namespace {

constexpr int UsualSyncInterval = 1000;
int syncInterval = UsualSyncInterval;
// After a failure, a new journal is tried at a change some seconds after it: on a full disk each
// try may write the whole text again.
qint64 retryAfter() { return 5 * qint64(syncInterval); }
// Records gather in memory up to this before they are written.
constexpr qsizetype MostPending = 1 << 20;

qint64 now()
{
    static QElapsedTimer clock;
    static const bool started = (clock.start(), true);
    Q_UNUSED(started);
    return clock.elapsed();
}

const QRegularExpression &namePattern()
{
    static const QRegularExpression pattern(u"^(journal|partial)-([0-9a-f]{16})-([0-9]{1,18})$"_s);
    return pattern;
}

struct Stopped
{
};

} // namespace

struct JournalWriter::Op
{
    enum Kind { Start, Edit, Document, Drop } kind;
    JournalText text; // the base of a Start, the inserted text of an Edit
    qint64 position = 0;
    qint64 removed = 0;
    QString path; // of a Start or Document
    QByteArray stamp;
    QStringList replacing;
};

JournalWriter::JournalWriter(StateFolder &folder, FailureHandler failed)
    : m_folder(folder), m_failed(std::move(failed)), m_context(new QObject)
{
    m_run = QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
    m_thread = std::thread([this] { run(); });
}

JournalWriter::~JournalWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_superseded = true;
    }
    m_wake.notify_all();
    m_thread.join();
    delete m_context;
}

void JournalWriter::setSyncInterval(int milliseconds)
{
    syncInterval = milliseconds > 0 ? milliseconds : UsualSyncInterval;
}

bool JournalWriter::isJournalName(const QString &name)
{
    const QRegularExpressionMatch match = namePattern().match(name);
    return match.hasMatch() && match.captured(1) == u"journal"_s;
}

bool JournalWriter::isPartialName(const QString &name)
{
    const QRegularExpressionMatch match = namePattern().match(name);
    return match.hasMatch() && match.captured(1) == u"partial"_s;
}

QString JournalWriter::runOf(const QString &name) { return namePattern().match(name).captured(2); }

qint64 JournalWriter::generationOf(const QString &name)
{
    return namePattern().match(name).captured(3).toLongLong();
}

QString JournalWriter::nameOf(const QString &prefix, qint64 generation) const
{
    return prefix + u'-' + m_run + u'-' + QString::number(generation);
}

// ----- the caller's side -----

// Keeps the longest time a call took its caller: the journal's whole cost to the user.
class JournalWriter::Timed
{
public:
    explicit Timed(JournalWriter &writer) : m_writer(writer) { m_clock.start(); }
    ~Timed() { m_writer.m_longestCall = std::max(m_writer.m_longestCall, m_clock.nsecsElapsed()); }

private:
    JournalWriter &m_writer;
    QElapsedTimer m_clock;
};

void JournalWriter::push(Op op)
{
    const bool supersedes = op.kind == Op::Start || op.kind == Op::Drop;
    {
        std::lock_guard lock(m_mutex);
        m_ops.push_back(std::move(op));
        ++m_queued;
        if (supersedes)
            m_superseded = true;
    }
    m_wake.notify_one();
}

void JournalWriter::setDocument(const QString &path, const QByteArray &stamp)
{
    m_path = path;
    m_stamp = stamp;
    if (m_active)
        push({ Op::Document, {}, 0, 0, path, stamp, {} });
}

void JournalWriter::replaced(qint64 position, qint64 removed, JournalText inserted,
                             const std::function<JournalText()> &whole)
{
    const Timed timed(*this);
    if (m_broken.exchange(false)) {
        m_active = false;
        m_failedAt = now();
    }
    if (m_lost) {
        m_active = false;
        m_lost = false;
    }
    if (m_active) {
        push({ Op::Edit, std::move(inserted), position, removed, {}, {}, {} });
        return;
    }
    if (m_failedAt != 0 && now() - m_failedAt < retryAfter())
        return;
    m_active = true;
    push({ Op::Start, whole(), 0, 0, m_path, m_stamp, {} });
}

void JournalWriter::renewed(const std::function<JournalText()> &whole)
{
    const Timed timed(*this);
    if (m_active)
        push({ Op::Start, whole(), 0, 0, m_path, m_stamp, {} });
}

void JournalWriter::protect(JournalText whole, const QStringList &replacing)
{
    m_active = true;
    m_broken = false;
    push({ Op::Start, std::move(whole), 0, 0, m_path, m_stamp, replacing });
}

void JournalWriter::settle()
{
    if (!m_active && !m_lost)
        return;
    m_active = false;
    m_lost = false;
    push({ Op::Drop, {}, 0, 0, {}, {}, {} });
}

void JournalWriter::lose() { m_lost = true; }

void JournalWriter::flush()
{
    std::unique_lock lock(m_mutex);
    const qint64 target = m_queued;
    m_syncNow = true;
    m_wake.notify_one();
    m_done.wait(lock, [&] { return m_synced >= target; });
}

// ----- the writer's thread -----

void JournalWriter::run()
{
    qint64 lastSync = -syncInterval;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_ops.empty()) {
            std::deque<Op> ops;
            ops.swap(m_ops);
            const qint64 taken = m_queued;
            m_superseded = false;
            lock.unlock();
            process(ops);
            lock.lock();
            m_processed = taken;
            if (!m_dirty) {
                m_synced = taken;
                m_done.notify_all();
            }
            continue;
        }
        if (m_stopping)
            break;
        if (m_dirty) {
            const qint64 due = m_syncNow ? now() : lastSync + syncInterval;
            if (now() < due) {
                m_wake.wait_for(lock, std::chrono::milliseconds(due - now()));
                continue;
            }
            const qint64 processed = m_processed;
            lock.unlock();
            sync();
            lastSync = now();
            lock.lock();
            m_syncNow = false;
            m_synced = processed;
            m_done.notify_all();
            continue;
        }
        m_syncNow = false;
        m_wake.wait(lock);
    }
    lock.unlock();
    // A clean end: nothing the user did not agree to lose is left unsaved.
    try {
        dropCurrent();
        for (const QString &name : std::as_const(m_toRemove))
            m_folder.remove(name);
    } catch (const Failure &) {
    }
    lock.lock();
    m_synced = m_queued;
    m_done.notify_all();
}

void JournalWriter::write(StateFile &file, QByteArrayView bytes)
{
    file.write(bytes);
    m_bytesWritten += bytes.size();
}

void JournalWriter::sync()
{
    m_dirty = false;
    if (!m_writable)
        return;
    try {
        if (!m_pending.isEmpty()) {
            write(*m_file, m_pending);
            m_pending.clear();
        }
        m_file->sync();
        ++m_syncs;
    } catch (const Failure &failure) {
        fail(failure);
    }
}

void JournalWriter::process(std::deque<Op> &ops)
{
    // Only the last new base or settle counts: whatever came before it is already out of date.
    auto from = ops.begin();
    for (auto op = ops.begin(); op != ops.end(); ++op) {
        if (op->kind == Op::Start || op->kind == Op::Drop)
            from = op;
    }
    for (auto op = ops.begin(); op != from; ++op)
        m_toRemove += op->replacing;
    for (auto op = from; op != ops.end(); ++op) {
        try {
            switch (op->kind) {
            case Op::Start:
                start(*op);
                break;
            case Op::Drop:
                dropCurrent();
                break;
            case Op::Edit:
                writeEdit(*op);
                break;
            case Op::Document:
                if (m_writable)
                    writeDocument(*m_file, op->path, op->stamp);
                break;
            }
            if (m_writable && m_pending.size() >= MostPending) {
                write(*m_file, m_pending);
                m_pending.clear();
            }
        } catch (const Stopped &) {
            // The edits after the base given up belong to it, not to the journal on disk.
            m_writable = false;
        } catch (const Failure &failure) {
            fail(failure);
        } catch (const std::bad_alloc &) {
            fail(Failure(FailureNumber::OutOfMemory,
                         u"Out of memory: the recovery journal could not be written."_s));
        }
    }
    if (m_writable && !m_pending.isEmpty()) {
        try {
            write(*m_file, m_pending);
            m_pending.clear();
        } catch (const Failure &failure) {
            fail(failure);
        }
    }
}

void JournalWriter::start(Op &op)
{
    m_toRemove += op.replacing;
    const qint64 generation = ++m_generation;
    const QString partial = nameOf(u"partial"_s, generation);
    std::unique_ptr<StateFile> file = m_folder.create(partial);
    try {
        QByteArray header;
        appendVarint(header, Version);
        appendVarint(header, quint64(generation));
        appendVarint(header, quint64(QDateTime::currentMSecsSinceEpoch()));
        write(*file, record(Header, header));
        writeDocument(*file, op.path, op.stamp);
        writeRecordOf(*file, Base, {}, op.text, true);
        write(*file, m_pending);
        m_pending.clear();
        file->sync();
        ++m_syncs;
        // Only a whole base goes by the journal's name.
        m_folder.rename(partial, nameOf(u"journal"_s, generation));
    } catch (...) {
        m_pending.clear();
        try {
            m_folder.remove(partial);
        } catch (const Failure &) {
        }
        throw;
    }
    op.text = {};
    dropCurrent();
    m_file = std::move(file);
    m_fileName = nameOf(u"journal"_s, generation);
    m_writable = true;
    m_dirty = false;
    const QStringList toRemove = std::exchange(m_toRemove, {});
    for (const QString &name : toRemove)
        m_folder.remove(name);
}

void JournalWriter::dropCurrent()
{
    m_pending.clear();
    m_writable = false;
    m_dirty = false;
    if (m_fileName.isEmpty())
        return;
    const QString name = std::exchange(m_fileName, {});
    m_folder.remove(name);
    m_file.reset();
}

void JournalWriter::writeDocument(StateFile &file, const QString &path, const QByteArray &stamp)
{
    QByteArray payload;
    const QByteArray pathBytes = path.toUtf8();
    appendVarint(payload, path.isEmpty() ? 0 : 1);
    appendVarint(payload, quint64(pathBytes.size()));
    payload += pathBytes;
    payload += stamp;
    if (&file == m_file.get()) {
        m_pending += record(Path, payload);
        m_dirty = true;
    } else {
        write(file, record(Path, payload));
    }
}

void JournalWriter::writeEdit(const Op &op)
{
    if (!m_writable)
        return;
    QByteArray prefix;
    appendVarint(prefix, quint64(op.position));
    appendVarint(prefix, quint64(op.removed));
    writeRecordOf(*m_file, Edit, prefix, op.text, false);
    m_dirty = true;
}

// The record goes into the pending bytes, which are written whenever they grow large, so a
// large text streams from its chunks to the file. A base may be given up part way when a newer
// one is waiting.
void JournalWriter::writeRecordOf(StateFile &file, int kind, QByteArrayView prefix,
                                  const JournalText &text, bool mayStop)
{
    const QByteArray start = head(Kind(kind), prefix.size() + text.bytes);
    quint32 crc = crc32(start);
    crc = crc32(prefix, crc);
    m_pending += start;
    m_pending += prefix;
    qint64 written = 0;
    if (text.read) {
        text.read([&](QByteArrayView piece) {
            if (mayStop && m_superseded)
                throw Stopped();
            piece = piece.first(std::min<qint64>(piece.size(), text.bytes - written));
            written += piece.size();
            crc = crc32(piece, crc);
            m_pending += piece;
            if (m_pending.size() >= MostPending) {
                write(file, m_pending);
                m_pending.clear();
            }
            return written < text.bytes;
        });
    }
    if (written != text.bytes)
        throw Failure(FailureNumber::DeviceIOError,
                      u"Device I/O error: the text changed while it was being journaled."_s);
    appendTail(m_pending, crc);
}

// The journal as it stands still holds an older text: it stays, locked, until a new one is made
// or the document is settled, but takes nothing more.
void JournalWriter::fail(const Failure &failure)
{
    m_pending.clear();
    m_writable = false;
    m_dirty = false;
    m_broken = true;
    if (m_told.exchange(true) || !m_failed)
        return;
    const Failure told(failure.number(),
                       failure.description()
                           + u" Unsaved changes are not protected against a crash until the "
                             "recovery journal can be written again."_s);
    QMetaObject::invokeMethod(
        m_context, [handler = m_failed, told] { handler(told); }, Qt::QueuedConnection);
}
