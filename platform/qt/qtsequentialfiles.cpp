#include "qtsequentialfiles.h"

#include "documentcodec.h"
#include "filefailures.h"
#include "itemreader.h"
#include "itemscanner.h"
#include "posixstatefolder.h"
#include "safefilewriter.h"
#include "saverepair.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using namespace FileFailures;

struct QtSequentialFiles::OpenFile
{
    OpenFile(Mode mode, const QString &path) : mode(mode), path(path) { }

    Mode mode;
    QString path;
    std::unique_ptr<QFile> unread; // input opened, not read yet
    ItemReader items;
    TextEncoding encoding = TextEncoding::Utf8;
    std::unique_ptr<SafeFileWriter> output;
};

namespace {

constexpr Step Input = Step::OpenInput;

QString megabytes(qint64 bytes) { return QString::number((bytes + (1 << 20) - 1) >> 20); }

Failure tooLargeToOpen(const QString &path, qint64 size, qint64 available)
{
    return Failure(FailureNumber::OutOfMemory,
                   u"Out of memory: %1 holds %2 MB, and only %3 MB of memory are available to "
                   "read it."_s.arg(shown(path), megabytes(size), megabytes(available)));
}

// Refuses, before reading, a file whose text cannot fit.
void requireRoom(const QString &path, qint64 size)
{
    const qint64 available = QtSequentialFiles::availableMemory();
    if (available >= 0 && QtSequentialFiles::memoryToOpen(size) > available)
        throw tooLargeToOpen(path, size, available);
}

Failure numberOutOfRange(qint16 number)
{
    return Failure(FailureNumber::BadFileNameOrNumber,
                   u"Bad file name or number: %1 is not a file number (%2 to %3)."_s.arg(number)
                       .arg(QtSequentialFiles::LowestNumber)
                       .arg(QtSequentialFiles::HighestNumber));
}

Failure numberNotOpen(qint16 number)
{
    return Failure(FailureNumber::BadFileNameOrNumber,
                   u"Bad file name or number: no file is open under number %1."_s.arg(number));
}

Failure numberAlreadyOpen(qint16 number)
{
    return Failure(FailureNumber::FileAlreadyOpen,
                   u"File already open: number %1 is in use by another file."_s.arg(number));
}

Failure badFileMode(const QString &path, bool forInput)
{
    return Failure(FailureNumber::BadFileMode,
                   (forInput ? u"Bad file mode: %1 is open for reading, not for writing."_s
                             : u"Bad file mode: %1 is open for writing, not for reading."_s)
                       .arg(shown(path)));
}

// --- Input ----------------------------------------------------------------------------------

void openInput(QFile &file, const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat before;
    if (::stat(QFile::encodeName(path).constData(), &before) != 0)
        throw fromErrno(errno, path, Input);
    requireRegularFile(before, path);
    requireRoom(path, before.st_size);
    // Non-blocking, in case the name was switched to a pipe after the check; checked again below.
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw fromErrno(errno, path, Input);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw accessError(path, file.errorString(), Input);
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0)
        throw fromErrno(errno, path, Input);
    requireRegularFile(opened, path);
#else
    const QFileInfo info(path);
    if (!info.exists())
        throw folderIsMissing(path) ? pathNotFound(path) : fileNotFound(path);
    if (info.isDir())
        throw folderGivenAsFile(path);
    if (!info.isFile())
        throw notARegularFile(path);
    requireRoom(path, info.size());
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        throw info.isReadable() ? accessError(path, file.errorString(), Input)
                                : permissionDenied(path, Input);
#endif
}

std::unique_ptr<QFile> openDocument(const QString &path)
{
    if (path.isEmpty())
        throw badFileName(path);
    auto file = std::make_unique<QFile>();
    openInput(*file, path);
    return file;
}

// Reads the file at any offset. One that has grown since it was opened is checked again, and
// refused once it grows past its size when reading began.
ReadBytes readerOf(QFile &file, const QString &path)
{
    const qint64 size = file.size();
    requireRoom(path, size);
    return [&file, &path, size](qint64 offset, char *buffer, qsizetype count) {
        if (file.pos() != offset && !file.seek(offset))
            throw deviceIOError(path, file.errorString(), Input);
        const qint64 read = file.read(buffer, count);
        if (read < 0)
            throw deviceIOError(path, file.errorString(), Input);
        if (offset + read > size)
            requireRoom(path, offset + read);
        return qsizetype(read);
    };
}

Failure readingStopped(const QString &path)
{
    return Failure(FailureNumber::UserInterrupt,
                   u"User interrupt occurred: the reading of %1 was stopped. The text read so far "
                   "belongs to no file."_s.arg(shown(path)));
}

Failure savingStopped(const QString &path)
{
    return Failure(FailureNumber::UserInterrupt,
                   u"User interrupt occurred: the saving of %1 was stopped. The file on disk was "
                   "not changed."_s.arg(shown(path)));
}

// The text as it is handed over, with the work told before each piece how far it has come, in
// the share of the whole the source said it holds (0 when it did not say).
TextSource watched(const TextSource &text, const std::function<void(qint64, qint64)> &before)
{
    TextSource source([&text, before](const TextSink &sink) {
        qint64 done = 0;
        text.read([&](QStringView piece) {
            before(done, std::max<qint64>(text.length, 0));
            done += piece.size();
            sink(piece);
        });
    });
    if (text.readUtf8) {
        source.readUtf8 = [&text, before](const Utf8Sink &sink) {
            qint64 done = 0;
            text.readUtf8([&](QByteArrayView piece) {
                before(done, std::max<qint64>(text.utf8Length, 0));
                done += piece.size();
                sink(piece);
            });
        };
    }
    source.length = text.length;
    source.utf8Length = text.utf8Length;
    return source;
}

Failure unterminatedItem(const QString &path)
{
    return Failure(
        FailureNumber::InputPastEndOfFile,
        u"Input past end of file: %1 ends inside a quoted item that is never closed."_s.arg(
            shown(path)));
}

} // namespace

// --- The numbers ----------------------------------------------------------------------------

QtSequentialFiles::QtSequentialFiles(std::shared_ptr<StateFolder> state)
    : m_state(state ? std::move(state) : std::make_shared<PosixStateFolder>())
{
}

// Output still open here was never closed: its QSaveFile discards it, leaving the old file.
QtSequentialFiles::~QtSequentialFiles() = default;

namespace {

// A number of bytes from a line "Name: value kB" of a file like /proc/meminfo, or -1.
qint64 kilobytesField(const QString &file, QByteArrayView name)
{
    QFile info(file);
    if (!info.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : info.readAll().split('\n')) {
        if (line.startsWith(name) && line.size() > name.size() && line.at(name.size()) == ':')
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// The first number in the file, or -1 (for "max", say).
qint64 numberIn(const QString &file)
{
    QFile info(file);
    bool ok = false;
    const qint64 value
        = info.open(QIODevice::ReadOnly) ? info.readAll().trimmed().toLongLong(&ok) : -1;
    return ok ? value : -1;
}

} // namespace

qint64 QtSequentialFiles::availableMemory()
{
#ifdef Q_OS_LINUX
    qint64 available = kilobytesField(u"/proc/meminfo"_s, "MemAvailable");
    const auto within = [&available](qint64 room) {
        if (room >= 0)
            available = available < 0 ? room : std::min(available, room);
    };
    struct rlimit limit;
    const qint64 mapped = kilobytesField(u"/proc/self/status"_s, "VmSize");
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && mapped >= 0)
        within(std::max<qint64>(0, qint64(limit.rlim_cur) - mapped));
    // A memory group of the unified hierarchy ("0::/path").
    QFile group(u"/proc/self/cgroup"_s);
    if (group.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : group.readAll().split('\n')) {
            if (!line.startsWith("0::"))
                continue;
            const QString folder = u"/sys/fs/cgroup"_s + QString::fromUtf8(line.mid(3));
            const qint64 most = numberIn(folder + u"/memory.max"_s);
            const qint64 used = numberIn(folder + u"/memory.current"_s);
            if (most >= 0 && used >= 0)
                within(std::max<qint64>(0, most - used));
        }
    }
    return available;
#else
    return -1;
#endif
}

qint64 QtSequentialFiles::largestText()
{
    const qint64 available = availableMemory();
    if (available < 0)
        return std::numeric_limits<qint64>::max();
    // The inverse of memoryToOpen.
    return std::max<qint64>(0, (available - memoryToOpen(0)) / 9 * 8);
}

qint16 QtSequentialFiles::freeFile()
{
    for (qint16 number = LowestNumber; number <= HighestNumber; ++number) {
        if (!m_files[number])
            return number;
    }
    throw Failure(FailureNumber::TooManyFiles,
                  u"Too many files: every file number from %1 to %2 is in use."_s.arg(LowestNumber)
                      .arg(HighestNumber));
}

bool QtSequentialFiles::isOpen(qint16 number) const
{
    return number >= LowestNumber && number <= HighestNumber && m_files[number];
}

FileStamp QtSequentialFiles::fileStamp(const QString &path) const
{
    if (path.isEmpty())
        return {};
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    const auto nanoseconds = [](const struct timespec &time) {
        return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return { true,
             qint64(info.st_size),
             nanoseconds(info.st_mtim),
             nanoseconds(info.st_ctim),
             quint64(info.st_dev),
             quint64(info.st_ino) };
#else
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return { true, info.size(), info.lastModified().toMSecsSinceEpoch() * 1'000'000,
             info.metadataChangeTime().toMSecsSinceEpoch() * 1'000'000 };
#endif
}

QStringList QtSequentialFiles::recoverInterruptedSaves()
{
#ifdef Q_OS_UNIX
    return repairInterruptedSaves(*m_state);
#else
    return {};
#endif
}

std::unique_ptr<QtSequentialFiles::OpenFile> &QtSequentialFiles::slotFor(qint16 number)
{
    if (number < LowestNumber || number > HighestNumber)
        throw numberOutOfRange(number);
    return m_files[number];
}

QtSequentialFiles::OpenFile &QtSequentialFiles::openFile(qint16 number, Mode mode)
{
    std::unique_ptr<OpenFile> &slot = slotFor(number);
    if (!slot)
        throw numberNotOpen(number);
    if (slot->mode != mode)
        releaseAndThrow(number, badFileMode(slot->path, slot->mode == Mode::Input));
    return *slot;
}

void QtSequentialFiles::release(qint16 number) { m_files[number].reset(); }

void QtSequentialFiles::releaseAndThrow(qint16 number, const Failure &failure)
{
    release(number);
    throw failure;
}

void QtSequentialFiles::openForInput(const QString &path, qint16 number)
{
    std::unique_ptr<OpenFile> &slot = slotFor(number);
    if (slot)
        throw numberAlreadyOpen(number);
    // The number is taken only once everything has worked.
    auto file = std::make_unique<OpenFile>(Mode::Input, path);
    try {
        file->unread = openDocument(path);
    } catch (const std::bad_alloc &) {
        throw outOfMemory(path);
    }
    slot = std::move(file);
}

void QtSequentialFiles::openForOutput(const QString &path, qint16 number, TextEncoding encoding)
{
    std::unique_ptr<OpenFile> &slot = slotFor(number);
    if (slot)
        throw numberAlreadyOpen(number);
    auto file = std::make_unique<OpenFile>(Mode::Output, path);
    file->encoding = encoding;
    file->output = std::make_unique<SafeFileWriter>(path, m_state.get());
    file->output->open();
    slot = std::move(file);
}

QtSequentialFiles::OpenFile &QtSequentialFiles::inputFile(qint16 number)
{
    OpenFile &file = openFile(number, Mode::Input);
    if (file.unread) {
        try {
            file.items = ItemReader(decodeDocument(readerOf(*file.unread, file.path),
                                                   DocumentPieceLength, &file.encoding));
        } catch (const Failure &failure) {
            releaseAndThrow(number, failure);
        } catch (const std::bad_alloc &) {
            releaseAndThrow(number, outOfMemory(file.path));
        }
        file.unread.reset();
    }
    return file;
}

bool QtSequentialFiles::atEnd(qint16 number) { return inputFile(number).items.atEnd(); }

QString QtSequentialFiles::readItem(qint16 number)
{
    OpenFile &file = inputFile(number);
    if (file.items.atEnd()) {
        releaseAndThrow(number,
                        Failure(FailureNumber::InputPastEndOfFile,
                                u"Input past end of file: everything in %1 has been read."_s.arg(
                                    shown(file.path))));
    }
    try {
        return file.items.next();
    } catch (const Failure &) {
        releaseAndThrow(number, unterminatedItem(file.path));
    } catch (const std::bad_alloc &) {
        releaseAndThrow(number, outOfMemory(file.path));
    }
}

void QtSequentialFiles::readAllItems(qint16 number, const QString &lineBreak,
                                     const std::function<void(const ItemRun &)> &sink)
{
    OpenFile &file = openFile(number, Mode::Input);
    try {
        if (file.unread) {
            // Read once, but for a file found to be in another encoding than its first bytes
            // suggested, which is read again; the share then stays near its end.
            const qint64 total = file.unread->size();
            const ReadBytes read = readerOf(*file.unread, file.path);
            BusyWork work(m_pace);
            qint64 taken = 0;
            const ReadBytes watchedRead = [&](qint64 offset, char *buffer, qsizetype count) {
                // Asked between reads, so that every stretch read before Escape is handed over.
                if (taken > 0 && !work.keepGoing(taken, total))
                    throw readingStopped(file.path);
                const qsizetype got = read(offset, buffer, count);
                taken += got;
                return got;
            };
            file.encoding = scanDocument(watchedRead, lineBreak, sink);
            file.unread.reset();
            return;
        }
        // Items already taken one at a time: the rest go the same way.
        while (!file.items.atEnd()) {
            const QString item = file.items.next();
            const QByteArray text = (item + lineBreak).toUtf8();
            sink({ text, 1, item.size() });
        }
    } catch (const Failure &failure) {
        const bool unterminated = failure.number() == FailureNumber::InputPastEndOfFile;
        releaseAndThrow(number, unterminated ? unterminatedItem(file.path) : failure);
    } catch (const std::bad_alloc &) {
        releaseAndThrow(number, outOfMemory(file.path));
    }
}

void QtSequentialFiles::writeItem(qint16 number, const TextSource &text)
{
    OpenFile &file = openFile(number, Mode::Output);
    try {
        BusyWork work(m_pace);
        const auto goOn = [&work, &file](qint64 done, qint64 total) {
            if (!work.keepGoing(done, total))
                throw savingStopped(file.path);
        };
        encodeItem(watched(text, goOn), file.encoding,
                   [&file](QByteArrayView piece) { file.output->write(piece); });
    } catch (const Failure &failure) {
        releaseAndThrow(number, failure);
    } catch (const std::bad_alloc &) {
        // Nothing reaches the file before close().
        releaseAndThrow(number, outOfMemory(file.path, Step::Write));
    }
}

TextEncoding QtSequentialFiles::encoding(qint16 number)
{
    std::unique_ptr<OpenFile> &slot = slotFor(number);
    if (!slot)
        throw numberNotOpen(number);
    if (slot->unread) {
        try {
            slot->encoding = detectEncoding(readerOf(*slot->unread, slot->path), DocumentReadSize);
        } catch (const Failure &failure) {
            releaseAndThrow(number, failure);
        }
    }
    return slot->encoding;
}

bool QtSequentialFiles::canStore(TextEncoding encoding, const TextSource &text) const
{
    return ::canStore(encoding, text);
}

void QtSequentialFiles::close(qint16 number)
{
    std::unique_ptr<OpenFile> &slot = slotFor(number);
    if (!slot)
        throw numberNotOpen(number);
    // The number is free from here on, whatever the commit does.
    const std::unique_ptr<OpenFile> file = std::move(slot);
    if (file->mode == Mode::Output)
        file->output->commit();
}
