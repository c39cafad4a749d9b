#pragma once

#include <QString>
#include <QStringView>

#include <functional>

// A text handed over in pieces, in order, so that a large one need not be held whole: the source
// calls the sink once per piece. No piece ends between the two halves of a surrogate pair.
using TextSink = std::function<void(QStringView)>;
using TextSource = std::function<void(const TextSink &)>;

// A text already held whole, as one piece; the text must outlive the source.
inline TextSource wholeText(QStringView text)
{
    return [text](const TextSink &sink) { sink(text); };
}

// A text taken at one moment that never changes afterwards, however its source is edited; taking
// it is cheap, and it is turned into characters only when they are asked for.
class TextSnapshot
{
public:
    virtual ~TextSnapshot() = default;
    virtual qsizetype length() const = 0;
    virtual QString toString() const = 0;
};

// Removes leading and trailing spaces (only the space character, as the classic runtimes do).
QString trimSpaces(const QString &text);

// The one-character text with the given code.
QString chr(int code);
