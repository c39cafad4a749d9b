#pragma once

#include "journalreader.h"
#include "journalwriter.h"
#include "recoveryjournal.h"

#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QtTextArea;
class TextBuffer;
class StateFile;
class StateFolder;

// The recovery journal of the text box's document: follows every change of the text box's
// storage into a JournalWriter, and reads back what an earlier run left in the state folder.
class QtRecoveryJournal : public RecoveryJournal
{
public:
    QtRecoveryJournal(StateFolder &folder, QtTextArea &textArea);
    ~QtRecoveryJournal() override;

    void settle(const QString &path, const FileStamp &stamp) override;
    void setFile(const QString &path, const FileStamp &stamp) override;
    std::optional<LeftOverText> findLeftOver() override;
    FileStamp recoverLeftOver() override;
    void discardLeftOver() override;
    void keepLeftOver() override;
    void setFailureHandler(std::function<void(const Failure &)> handler) override;

    // Returns once every change so far is on the disk (tests and benchmarks).
    void flush() { m_writer.flush(); }
    JournalWriter::Figures figures() const { return m_writer.figures(); }

    static QByteArray stampBytes(const FileStamp &stamp);
    static FileStamp stampOf(const QByteArray &bytes);

private:
    struct LeftOver
    {
        ~LeftOver();
        void startRebuilding();
        void finishRebuilding();

        QStringList names; // every file of its run, the newest first
        std::vector<std::unique_ptr<StateFile>> held;
        LeftOverText text;
        JournalContents contents;
        // The text, rebuilt while the question is asked.
        std::thread rebuilding;
        std::atomic<bool> stop = false;
        std::unique_ptr<TextBuffer> rebuilt;
    };

    StateFolder &m_folder;
    QtTextArea &m_textArea;
    std::function<void(const Failure &)> m_failed;
    std::unique_ptr<LeftOver> m_leftOver;
    // Files of a recovered journal, kept from other programs until the new journal replaces them.
    std::vector<std::unique_ptr<StateFile>> m_recovered;
    JournalWriter m_writer;
};
