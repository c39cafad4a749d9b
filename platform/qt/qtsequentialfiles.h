#pragma once

#include "busywork.h"
#include "sequentialfiles.h"

#include <array>
#include <memory>

class StateFolder;

// Sequential files through QFile and QSaveFile, under the numbers 1 to 511.
//
// Input opens regular files only, whose text fits in the memory the process can still take (the
// system's available memory, within its address-space and memory-group limits), and reads the
// file at the first look at its items, so that a caller replacing a document can let go of the
// old one first. It is
// read and decoded in pieces, and its items are handed out one by one; or read in bulk, straight
// from its bytes (readAllItems), in one pass that settles its encoding as it goes. Output goes through
// a SafeFileWriter: the file on disk changes only when close() commits, so a failed write or close
// leaves it as it was (or names the backup that holds it). Each save records its steps in the
// state folder beforehand (by default $XDG_STATE_HOME/quorvex), so that one cut short is put right
// at the next start.
//
// Reading in bulk and writing are long work (BusyWork): the window repaints and shows the share
// done, and Escape stops them with a UserInterrupt failure: a reading keeps what it handed over, a
// writing leaves the file on disk as it was.
//
// Any failure raised by an operation on an open number closes that number (output cancelled)
// before it is thrown. Opening under a number that is already open fails without touching the
// file that holds it.
class QtSequentialFiles : public SequentialFiles
{
public:
    static constexpr qint16 LowestNumber = 1;
    static constexpr qint16 HighestNumber = 511;
    // What a file's text is taken to need once read: its UTF-8 in the storage, the storage's
    // tree, and the reading's buffers.
    static qint64 memoryToOpen(qint64 fileSize) { return fileSize + fileSize / 8 + (32 << 20); }
    // Bytes the process can still take, or -1 where that cannot be told.
    static qint64 availableMemory();
    // The longest text, in bytes of UTF-8, that would fit in that memory now.
    static qint64 largestText();

    // Saves record their steps in the given state folder, or in the default one.
    explicit QtSequentialFiles(std::shared_ptr<StateFolder> state = nullptr);
    ~QtSequentialFiles() override;

    // How soon long reading and writing answer Escape and show their progress.
    void setPace(BusyWork::Pace pace) { m_pace = pace; }

    qint16 freeFile() override;
    void openForInput(const QString &path, qint16 number) override;
    using SequentialFiles::openForOutput;
    void openForOutput(const QString &path, qint16 number, TextEncoding encoding) override;
    TextEncoding encoding(qint16 number) override;
    bool canStore(TextEncoding encoding, const TextSource &text) const override;
    bool atEnd(qint16 number) override;
    QString readItem(qint16 number) override;
    void readAllItems(qint16 number, const QString &lineBreak,
                      const std::function<void(const ItemRun &)> &sink) override;
    using SequentialFiles::writeItem;
    void writeItem(qint16 number, const TextSource &text) override;
    void close(qint16 number) override;
    bool isOpen(qint16 number) const override;
    FileStamp fileStamp(const QString &path) const override;
    QStringList recoverInterruptedSaves() override;

private:
    struct OpenFile;
    enum class Mode { Input, Output };

    std::unique_ptr<OpenFile> &slotFor(qint16 number);
    OpenFile &openFile(qint16 number, Mode mode);
    OpenFile &inputFile(qint16 number);
    [[noreturn]] void releaseAndThrow(qint16 number, const class Failure &failure);
    void release(qint16 number);

    // Before the files: a save still open when this goes records its end there.
    std::shared_ptr<StateFolder> m_state;
    std::array<std::unique_ptr<OpenFile>, HighestNumber + 1> m_files;
    BusyWork::Pace m_pace;
};
