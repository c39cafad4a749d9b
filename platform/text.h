#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <type_traits>
#include <utility>

// A text handed over in pieces, in order, so that a large one need not be held whole: the source
// calls the sink once per piece. No piece ends between the two halves of a surrogate pair.
using TextSink = std::function<void(QStringView)>;
// The same text as valid UTF-8; no piece ends inside a character.
using Utf8Sink = std::function<void(QByteArrayView)>;

struct TextSource;
// Any callable that hands a text to a TextSink, as a source of characters only.
template<typename Read>
concept TextReader = std::is_invocable_v<const Read &, const TextSink &> && !std::is_same_v<
    std::remove_cvref_t<Read>, TextSource>;

struct TextSource
{
    template<TextReader Read>
    TextSource(Read read) : read(std::move(read))
    {
    }
    TextSource(std::function<void(const TextSink &)> read,
               std::function<void(const Utf8Sink &)> readUtf8)
        : read(std::move(read)), readUtf8(std::move(readUtf8))
    {
    }
    void operator()(const TextSink &sink) const { read(sink); }

    std::function<void(const TextSink &)> read;
    // A source that keeps its text as UTF-8 hands its bytes over too, which spares decoding and
    // encoding them again where UTF-8 is written; empty otherwise.
    std::function<void(const Utf8Sink &)> readUtf8;
    // How much each way hands over in all, when the source knows it, so that long work can show
    // its share done: characters (UTF-16 units) and bytes.
    qint64 length = -1;
    qint64 utf8Length = -1;
};

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
