#include "documentfile.h"

#include "sequentialfiles.h"

namespace {

// Closes the number on the way out unless the work closed it already. A close that fails
// during a failure is dropped: the first failure is the one worth telling.
class OpenNumber
{
public:
    OpenNumber(SequentialFiles &files, qint16 number) : m_files(files), m_number(number) { }
    ~OpenNumber()
    {
        if (!m_files.isOpen(m_number))
            return;
        try {
            m_files.close(m_number);
        } catch (...) {
        }
    }
    OpenNumber(const OpenNumber &) = delete;
    OpenNumber &operator=(const OpenNumber &) = delete;

private:
    SequentialFiles &m_files;
    qint16 m_number;
};

} // namespace

void writeDocument(SequentialFiles &files, qint16 number, const QString &path,
                   const TextSource &text, TextEncoding encoding)
{
    OpenNumber guard(files, number);
    files.openForOutput(path, number, encoding);
    files.writeItem(number, text);
    files.close(number);
}

QStringList readItems(SequentialFiles &files, qint16 number, const QString &path)
{
    OpenNumber guard(files, number);
    files.openForInput(path, number);
    QStringList items;
    while (!files.atEnd(number))
        items.append(files.readItem(number));
    files.close(number);
    return items;
}
