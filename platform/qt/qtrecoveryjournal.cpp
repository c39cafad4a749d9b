#include "qtrecoveryjournal.h"

#include "failure.h"
#include "filefailures.h"
#include "journalreader.h"
#include "qtsequentialfiles.h"
#include "qttextarea.h"
#include "statefolder.h"

#include <QDataStream>
#include <QHash>
#include <QIODevice>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// Positions are 64-bit: only memory bounds a recovered text.
constexpr qint64 MostUnits = std::numeric_limits<qint64>::max();

JournalText journalText(const TextSlice &text)
{
    return { text.byteLength(),
             [text](const std::function<bool(QByteArrayView)> &visit) { text.readUtf8(visit); } };
}

Failure unreadable(const QString &path)
{
    return Failure(FailureNumber::DeviceIOError,
                   u"Device I/O error: the unsaved text of %1 could not be read."_s.arg(
                       path.isEmpty() ? u"a new document"_s : FileFailures::shown(path)));
}

Failure tooLarge(const QString &path)
{
    return Failure(FailureNumber::OutOfMemory,
                   u"Out of memory: the unsaved text of %1 is too large to open (the limit is "
                   "%2 MB)."_s.arg(path.isEmpty() ? u"a new document"_s : FileFailures::shown(path),
                                   QString::number(QtSequentialFiles::largestText() >> 20)));
}

// Pieces of UTF-8 go into the storage ending at whole characters; the rest waits for the next.
class Utf8Pieces
{
public:
    explicit Utf8Pieces(TextBuffer &buffer) : m_buffer(buffer) { }
    void add(QByteArrayView piece)
    {
        m_carry += piece;
        qsizetype end = m_carry.size();
        for (int back = 0; back < 4 && end > 0; ++back) {
            const uchar c = uchar(m_carry[end - 1 - back]);
            if ((c & 0xC0) == 0x80)
                continue;
            const int length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            if (length > back + 1)
                end -= back + 1;
            break;
        }
        m_buffer.appendLoaded(QByteArrayView(m_carry).first(end));
        m_carry.remove(0, end);
    }

private:
    TextBuffer &m_buffer;
    QByteArray m_carry;
};

// Edits go into the rebuilt text as they were made, except that a run of insertions each right
// after the last, as typing makes them, goes in as one: a journal holds one edit per key.
class Typing
{
public:
    explicit Typing(TextBuffer &text) : m_text(text) { }
    void add(const JournalEdit &edit)
    {
        if (edit.removed == 0 && m_at >= 0 && edit.position == m_at + m_units) {
            m_typed += edit.inserted;
            m_units += edit.insertedUnits;
            return;
        }
        flush();
        if (edit.removed == 0) {
            m_at = edit.position;
            m_typed = edit.inserted;
            m_units = edit.insertedUnits;
            return;
        }
        m_text.apply(edit.position, edit.removed, TextSlice::fromUtf8(edit.inserted));
    }
    void flush()
    {
        if (m_at >= 0)
            m_text.apply(m_at, 0, TextSlice::fromUtf8(m_typed));
        m_at = -1;
        m_typed.clear();
        m_units = 0;
    }

private:
    TextBuffer &m_text;
    QByteArray m_typed;
    qint64 m_at = -1;
    qint64 m_units = 0;
};

} // namespace

// The text is rebuilt on a thread of its own while the question is asked, so that the answer
// takes effect at once, however large the text and however many its edits.
void QtRecoveryJournal::LeftOver::startRebuilding()
{
    rebuilding = std::thread([this] {
        struct Stopped
        {
        };
        try {
            auto text = std::make_unique<TextBuffer>();
            Utf8Pieces base(*text);
            Typing typing(*text);
            // Taken before the text takes its share of the memory.
            const qint64 largest = QtSequentialFiles::largestText();
            const JournalContents read = readJournal(
                *held.front(), largest, MostUnits,
                [&](QByteArrayView piece) {
                    if (stop)
                        throw Stopped();
                    base.add(piece);
                },
                [&](const JournalEdit &edit) {
                    if (stop)
                        throw Stopped();
                    typing.add(edit);
                });
            typing.flush();
            if (read.tooLarge || text->byteLength() > largest)
                contents.tooLarge = true;
            else if (read.usable)
                rebuilt = std::move(text);
        } catch (const std::bad_alloc &) {
            contents.tooLarge = true;
        } catch (const Stopped &) {
        }
    });
}

void QtRecoveryJournal::LeftOver::finishRebuilding()
{
    if (rebuilding.joinable())
        rebuilding.join();
}

QtRecoveryJournal::LeftOver::~LeftOver()
{
    stop = true;
    finishRebuilding();
}

QtRecoveryJournal::QtRecoveryJournal(StateFolder &folder, QtTextArea &textArea)
    : m_folder(folder), m_textArea(textArea), m_writer(folder, [this](const Failure &failure) {
          if (m_failed)
              m_failed(failure);
      })
{
    // The change is made whatever happens here: running out of memory only costs the journal.
    m_textArea.setChangeListener([this](const TextChange &change) {
        const auto whole = [this] { return journalText(m_textArea.buffer().whole()); };
        try {
            if (const auto *replaced = std::get_if<TextReplaced>(&change)) {
                m_writer.replaced(replaced->position, replaced->removed,
                                  journalText(replaced->inserted), whole);
            } else {
                m_writer.renewed(whole);
            }
        } catch (const std::bad_alloc &) {
            m_writer.lose();
        }
    });
}

QtRecoveryJournal::~QtRecoveryJournal() { m_textArea.setChangeListener({}); }

QByteArray QtRecoveryJournal::bytesOf(const JournalFile &file)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    const FileStamp &stamp = file.stamp;
    out << stamp.exists << stamp.size << stamp.modified << stamp.changed << stamp.device
        << stamp.inode << int(file.encoding);
    return bytes;
}

// What a journal does not tell, or tells wrongly, is taken as unknown: a file of no stamp, and
// UTF-8, as a new document is written.
JournalFile QtRecoveryJournal::fileOf(const QByteArray &bytes)
{
    JournalFile file;
    FileStamp &stamp = file.stamp;
    int encoding = 0;
    QDataStream in(bytes);
    in >> stamp.exists >> stamp.size >> stamp.modified >> stamp.changed >> stamp.device
        >> stamp.inode >> encoding;
    if (in.status() != QDataStream::Ok)
        return {};
    if (encoding >= int(TextEncoding::Utf8) && encoding <= int(TextEncoding::Windows1252))
        file.encoding = TextEncoding(encoding);
    return file;
}

void QtRecoveryJournal::settle(const QString &path, const JournalFile &file)
{
    m_writer.settle();
    m_writer.setDocument(path, bytesOf(file));
}

void QtRecoveryJournal::setFile(const QString &path, const JournalFile &file)
{
    m_writer.setDocument(path, bytesOf(file));
}

void QtRecoveryJournal::setFailureHandler(std::function<void(const Failure &)> handler)
{
    m_failed = std::move(handler);
}

// One listing of the folder. Unfinished bases of programs that ended go; of each run that
// ended, the newest generation is a candidate, and the newest candidate that reads is offered.
std::optional<LeftOverText> QtRecoveryJournal::findLeftOver()
{
    m_leftOver.reset();
    QStringList names;
    try {
        names = m_folder.list();
    } catch (const Failure &) {
        return std::nullopt;
    }
    QHash<QString, QStringList> runs;
    for (const QString &name : std::as_const(names)) {
        if (JournalWriter::isJournalName(name)) {
            runs[JournalWriter::runOf(name)].append(name);
        } else if (JournalWriter::isPartialName(name)) {
            if (m_folder.claim(name)) {
                try {
                    m_folder.remove(name);
                } catch (const Failure &) {
                }
            }
        }
    }
    struct Candidate
    {
        QStringList names;
        std::unique_ptr<StateFile> file;
        qint64 modified;
    };
    std::vector<Candidate> candidates;
    for (QStringList &files : runs) {
        std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
            return JournalWriter::generationOf(a) > JournalWriter::generationOf(b);
        });
        std::unique_ptr<StateFile> newest = m_folder.claim(files.first());
        if (!newest)
            continue;
        const qint64 modified = newest->modified();
        candidates.push_back({ files, std::move(newest), modified });
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.modified > b.modified; });
    for (Candidate &candidate : candidates) {
        const JournalContents contents
            = readJournal(*candidate.file, QtSequentialFiles::largestText(), MostUnits);
        if (!contents.usable && !contents.tooLarge)
            continue;
        auto leftOver = std::make_unique<LeftOver>();
        leftOver->names = candidate.names;
        leftOver->held.push_back(std::move(candidate.file));
        // The older generations too, so that no other program offers them meanwhile.
        for (const QString &older : candidate.names.mid(1)) {
            if (std::unique_ptr<StateFile> file = m_folder.claim(older))
                leftOver->held.push_back(std::move(file));
        }
        leftOver->text = { contents.path, contents.complete };
        leftOver->contents = contents;
        m_leftOver = std::move(leftOver);
        if (!contents.tooLarge)
            m_leftOver->startRebuilding();
        return m_leftOver->text;
    }
    return std::nullopt;
}

JournalFile QtRecoveryJournal::recoverLeftOver()
{
    if (!m_leftOver)
        return {};
    const QString path = m_leftOver->text.path;
    m_leftOver->finishRebuilding();
    const JournalContents &contents = m_leftOver->contents;
    if (contents.tooLarge)
        throw tooLarge(path);
    if (!m_leftOver->rebuilt)
        throw unreadable(path);
    m_textArea.setContents(m_leftOver->rebuilt->whole());
    m_leftOver->rebuilt.reset();
    const JournalFile file = fileOf(contents.stamp);
    m_writer.setDocument(path, contents.stamp);
    m_writer.protect(journalText(m_textArea.buffer().whole()), m_leftOver->names);
    for (std::unique_ptr<StateFile> &file : m_leftOver->held)
        m_recovered.push_back(std::move(file));
    m_leftOver.reset();
    return file;
}

void QtRecoveryJournal::discardLeftOver()
{
    if (!m_leftOver)
        return;
    for (const QString &name : std::as_const(m_leftOver->names)) {
        try {
            m_folder.remove(name);
        } catch (const Failure &) {
        }
    }
    m_leftOver.reset();
}

void QtRecoveryJournal::keepLeftOver() { m_leftOver.reset(); }
