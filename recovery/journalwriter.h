#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Failure;
class QObject;
class StateFile;
class StateFolder;

// A text that never changes, as UTF-8 that any thread may read while the document is edited
// (a snapshot of the storage's immutable chunks): read hands its pieces in order until the
// visitor returns false.
struct JournalText
{
    qint64 bytes = 0;
    std::function<void(const std::function<bool(QByteArrayView)> &)> read;
};

// Keeps the text of a changed document on disk, so that a crash, a kill or a power cut loses
// nothing typed more than a moment ago. From the first change after the document was settled
// (opened, saved, new, or its changes dropped), the journal holds the whole text as it was then
// and each change since; a whole new text (a load, Replace All) starts it again from a new base.
// Settling deletes it, and so does a clean end of the program.
//
// Everything that touches the disk happens on a thread of the writer's own: a change costs the
// caller a few small allocations whatever its size, the text being read from its immutable
// chunks in the background. Writes are synced at most once a second, and a change is on the
// disk within about a second of being told. When the journal cannot be written, failed is
// called once (on the thread that made the writer, from its event loop) and the journal starts
// again from a new base at a change some seconds later.
class JournalWriter
{
public:
    using FailureHandler = std::function<void(const Failure &)>;
    JournalWriter(StateFolder &folder, FailureHandler failed);
    ~JournalWriter();
    JournalWriter(const JournalWriter &) = delete;
    JournalWriter &operator=(const JournalWriter &) = delete;

    // The document's file (empty when it has none) and what its stamp was when last read or
    // written, so that a recovery can tell whether the file changed meanwhile.
    void setDocument(const QString &path, const QByteArray &stamp);
    // The units from position to position + removed became inserted; whole gives the text
    // after the change, asked for only when the journal starts with it.
    void replaced(qint64 position, qint64 removed, JournalText inserted,
                  const std::function<JournalText()> &whole);
    // The whole text is new.
    void renewed(const std::function<JournalText()> &whole);
    // The text is safe in its file, or the user dropped it: the journal goes.
    void settle();
    // A change could not be told (memory ran out): the journal starts again from a new base at
    // the next change, and goes at the next settle.
    void lose();
    // Starts a journal of the given text, and once it is on the disk removes the named files of
    // the folder (those of a journal recovered from an earlier run).
    void protect(JournalText whole, const QStringList &replacing);
    // Returns once everything told so far is on the disk (or has failed).
    void flush();
    // What the journal has cost the disk so far.
    struct Figures
    {
        qint64 bytes = 0;
        qint64 syncs = 0;
        qint64 longestCall = 0; // the longest a change told here took its caller, in nanoseconds
    };
    Figures figures() const { return { m_bytesWritten, m_syncs, m_longestCall }; }

    // The journal's files have names of these forms; the rest are another part's.
    static bool isJournalName(const QString &name);
    static bool isPartialName(const QString &name);
    // The run a journal's file belongs to, and its generation.
    static QString runOf(const QString &name);
    static qint64 generationOf(const QString &name);
    // Testing seam: the least time between two syncs, in milliseconds (0 for the usual); the
    // wait before a new journal is tried after a failure follows it.
    static void setSyncInterval(int milliseconds);

private:
    struct Op;
    class Timed;
    void push(Op op);
    void run();
    void process(std::deque<Op> &ops);
    void start(Op &op);
    void writeEdit(const Op &op);
    void writeRecordOf(StateFile &file, int kind, QByteArrayView prefix, const JournalText &text,
                       bool mayStop);
    void writeDocument(StateFile &file, const QString &path, const QByteArray &stamp);
    void dropCurrent();
    void write(StateFile &file, QByteArrayView bytes);
    void sync();
    void fail(const Failure &failure);
    QString nameOf(const QString &prefix, qint64 generation) const;

    StateFolder &m_folder;
    FailureHandler m_failed;
    QObject *m_context; // where failures are told
    QString m_run;
    QString m_path;
    QByteArray m_stamp;
    bool m_active = false; // a journal exists or is being made
    bool m_lost = false; // a change could not be told
    qint64 m_failedAt = 0; // when the last failure was seen, on the caller's clock
    qint64 m_longestCall = 0;

    // Shared with the thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Op> m_ops;
    bool m_stopping = false;
    bool m_syncNow = false;
    qint64 m_queued = 0;
    qint64 m_synced = 0;
    std::atomic<bool> m_superseded = false; // a newer base or a settle is waiting
    std::atomic<bool> m_broken = false;
    std::atomic<bool> m_told = false;
    std::atomic<qint64> m_bytesWritten = 0;
    std::atomic<qint64> m_syncs = 0;

    // The thread's own.
    std::unique_ptr<StateFile> m_file;
    QString m_fileName;
    bool m_writable = false; // the file takes edits: its base is whole and nothing failed since
    qint64 m_generation = 0;
    QByteArray m_pending; // records not yet written
    bool m_dirty = false;
    qint64 m_processed = 0;
    QStringList m_toRemove; // files to go once the next base is safe, or at a clean end

    std::thread m_thread;
};
