#include "itemreader.h"

#include "failure.h"

using namespace Qt::StringLiterals;

namespace {

inline bool isDelimiter(char16_t c)
{
    // Every delimiter sorts at or below the comma: one test settles most characters.
    return c <= u',' && (c == u',' || c == u'\n' || c == u'\r');
}

} // namespace

ItemReader::ItemReader(QString text) : m_text(std::move(text)) { }

QString ItemReader::next()
{
    if (atEnd()) {
        throw Failure(FailureNumber::InputPastEndOfFile,
                      u"Input past end of file: there is no item left to read."_s);
    }
    return m_text.at(m_position) == u'"' ? readQuoted() : readUnquoted();
}

QString ItemReader::readUnquoted()
{
    const char16_t *const data = reinterpret_cast<const char16_t *>(m_text.utf16());
    const qsizetype size = m_text.size();
    const qsizetype start = m_position;
    qsizetype end = start;
    while (end < size && !isDelimiter(data[end]))
        ++end;
    QString item(m_text.constData() + start, end - start);
    skipDelimiterAt(end);
    return item;
}

QString ItemReader::readQuoted()
{
    const QStringView text(m_text);
    const qsizetype size = text.size();
    QString item;
    qsizetype segment = m_position + 1; // first character not yet copied into the item
    qsizetype from = segment;
    for (;;) {
        const qsizetype mark = text.indexOf(u'"', from);
        if (mark < 0) {
            m_position = size;
            throw Failure(FailureNumber::InputPastEndOfFile,
                          u"Input past end of file: the file ends inside a quoted item."_s);
        }
        const qsizetype after = mark + 1;
        if (after < size && text[after] == u'"') {
            item += text.sliced(segment, after - segment); // keeps one of the two
            segment = from = after + 1;
        } else if (after == size || isDelimiter(text[after].unicode())) {
            item += text.sliced(segment, mark - segment);
            skipDelimiterAt(after);
            return item;
        } else {
            from = after; // a lone mark inside the item is one of its characters
        }
    }
}

void ItemReader::skipDelimiterAt(qsizetype index)
{
    const qsizetype size = m_text.size();
    if (index >= size) {
        m_position = size;
        return;
    }
    const QChar c = m_text.at(index);
    m_position = index + 1;
    if (c == u'\r' && m_position < size && m_text.at(m_position) == u'\n')
        ++m_position;
}
