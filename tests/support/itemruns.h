#pragma once

// Items read in bulk, gathered the way the text box keeps them (up to the last stretch that ends an
// item), beside the same figures from items read one at a time, so the two readers compare whole.
#include "sequentialfiles.h"

#include <QStringDecoder>
#include <QStringList>
#include <QTest>

struct Gathered
{
    QString text;
    qsizetype items = 0;
    qint64 characters = 0;
    int failure = 0; // the number that ended the reading; -1 for a stretch that is not UTF-8
    bool operator==(const Gathered &) const = default;
};

inline char *toString(const Gathered &g)
{
    return QTest::toString(QStringLiteral("%1 items, %2 characters, failure %3: %4")
                               .arg(g.items)
                               .arg(g.characters)
                               .arg(g.failure)
                               .arg(g.text.left(300)));
}

class Gatherer
{
public:
    std::function<void(const ItemRun &)> sink()
    {
        return [this](const ItemRun &run) {
            if (!run.text.isValidUtf8())
                m_invalid = true;
            m_all += run.text;
            if (run.items > 0)
                m_kept = m_all;
            m_result.items += run.items;
            m_result.characters += run.characters;
        };
    }

    // A failure keeps the whole items; without one, every stretch must have ended an item.
    Gathered result(int failure)
    {
        Gathered result = m_result;
        result.text = QStringDecoder(QStringConverter::Utf8,
                                     QStringConverter::Flag::ConvertInitialBom)
                          .decode(m_kept);
        result.failure = m_invalid || (failure == 0 && m_all != m_kept) ? -1 : failure;
        return result;
    }

private:
    QByteArray m_all, m_kept;
    Gathered m_result;
    bool m_invalid = false;
};

inline Gathered fromItems(const QStringList &items, const QString &lineBreak, int failure)
{
    Gathered result;
    for (const QString &item : items) {
        result.text += item + lineBreak;
        result.characters += item.size();
    }
    result.items = items.size();
    result.failure = failure;
    return result;
}
