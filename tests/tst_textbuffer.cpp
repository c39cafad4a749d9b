// The text box's buffer: CR LF text in UTF-8 chunks, its line and byte counts kept through
// edits, loading, undo and redo, and edits that fail for want of memory changing nothing.
#include "rope.h"
#include "ropeclusters.h"
#include "textbuffer.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(rope::NodePtr)

namespace {

// Compares every view of the buffer with the plain text it should hold, and checks the tree.
void compareWith(const TextBuffer &buffer, const QString &expected)
{
    QList<qsizetype> starts { 0 };
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (expected.at(i) == u'\n')
            starts.append(i + 1);
    }
    QCOMPARE(buffer.length(), expected.size());
    QCOMPARE(buffer.lineCount(), starts.size());
    qsizetype longest = 0;
    for (qsizetype line = 0; line < starts.size(); ++line) {
        const qsizetype start = starts[line];
        const qsizetype end = line + 1 < starts.size() ? starts[line + 1] - 2 : expected.size();
        QCOMPARE(buffer.lineStart(line), start);
        QCOMPARE(buffer.lineEnd(line), end);
        QCOMPARE(buffer.lineText(line), expected.mid(start, end - start));
        if (end > start)
            QCOMPARE(buffer.at(end - 1), expected.at(end - 1));
        QCOMPARE(buffer.lineAt(start), line);
        QCOMPARE(buffer.lineAt(end), line);
        longest = std::max(longest, end - start);
    }
    QCOMPARE(buffer.longestLine(), longest);
    QCOMPARE(buffer.text(), expected);
    QCOMPARE(buffer.whole().treeFault(), QString());

    // In small pieces that add up to the text, none ending inside a surrogate pair or CR LF.
    QString joined;
    bool split = false;
    buffer.readText([&](QStringView piece) {
        split = split || piece.isEmpty() || piece.size() > 70000 || piece.back() == u'\r'
            || piece.back().isHighSurrogate();
        joined += piece;
    });
    QVERIFY(!split);
    QCOMPARE(joined, expected);

    // The chunks, forwards and backwards, are the text's UTF-8, cut between characters.
    const QByteArray utf8 = expected.toUtf8();
    QCOMPARE(buffer.byteLength(), utf8.size());
    QByteArray forward, backward;
    bool cut = false;
    buffer.forEachChunk(0, [&](QByteArrayView bytes, qint64 start) {
        cut = cut || start != forward.size()
            || (!bytes.empty() && ((uchar(bytes[0]) & 0xC0) == 0x80 || bytes[0] == '\n'));
        forward += bytes;
        return !cut;
    });
    buffer.forEachChunkBackward(utf8.size(), [&](QByteArrayView bytes, qint64 start) {
        cut = cut || start + bytes.size() + backward.size() != utf8.size();
        backward.prepend(bytes.toByteArray());
        return !cut;
    });
    QVERIFY(!cut);
    QCOMPARE(forward, utf8);
    QCOMPARE(backward, utf8);
}

// Lines with characters of two and four bytes, numbered from 0.
QString numberedLines(int count, const QString &lineEnd)
{
    QString lines;
    for (int i = 0; i < count; ++i)
        lines += u"line é\U0001F600 "_s + QString::number(i) + lineEnd;
    return lines;
}

bool sameAs(const TextBuffer &buffer, const QString &expected)
{
    compareWith(buffer, expected);
    return !QTest::currentTestFailed();
}

// The position at or before the given one outside a CR LF or surrogate pair.
qsizetype snap(const QString &text, qsizetype position)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    if (position > 0 && position < text.size()
        && (text.at(position) == u'\n' || text.at(position).isLowSurrogate()))
        return position - 1;
    return position;
}

// Every text the undo history goes through, back to the start and forward again.
QStringList historyOf(TextBuffer &buffer)
{
    QStringList texts { buffer.text() };
    while (buffer.canUndo()) {
        const TextBuffer::Span span = buffer.undo();
        texts << buffer.text() << QString::number(span.position + span.length);
    }
    while (buffer.canRedo()) {
        buffer.redo();
        texts << buffer.text();
    }
    return texts;
}

// Runs the edit with allocations failing after `allowed` more: whether it went through, stopped
// part way (a rewrite), or ran out before it changed anything.
enum class Ran { Through, Partly, Not };

template<typename Edit>
Ran withMemoryFor(int allowed, Edit edit)
{
    rope::failAllocationAfter(allowed);
    const auto restore = qScopeGuard([] { rope::failAllocationAfter(-1); });
    try {
        edit();
    } catch (const TextBuffer::PartialRewrite &) {
        return Ran::Partly;
    } catch (const std::bad_alloc &) {
        return Ran::Not;
    }
    return Ran::Through;
}

const QString longMixed = [] {
    QString text;
    const QString pieces[] { u"abc"_s, u"é"_s, u"€"_s, u"\U0001F600"_s, u"e\u0301"_s, u" "_s };
    for (int i = 0; i < 3000; ++i)
        text += pieces[(i * 7 + i / 5) % std::size(pieces)];
    return text;
}();

} // namespace

class TestTextBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyBreakBecomesCrLf_data();
    void everyBreakBecomesCrLf();
    void undoStepsFollowTheTyping();
    void randomEditsMatchAPlainString();
    void brokenTreesAreFound_data();
    void brokenTreesAreFound();
    void failedEditChangesNothing_data();
    void failedEditChangesNothing();
    void failedRewriteKeepsWhatItDid_data();
    void failedRewriteKeepsWhatItDid();
    void rewriteLetsTheOldTextGo();
    void editsRebuildOnlyTheirPath_data();
    void editsRebuildOnlyTheirPath();
};

void TestTextBuffer::everyBreakBecomesCrLf_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("held");

    QTest::addRow("empty") << QString() << QString();
    QTest::addRow("lf cr is two breaks") << u"a\n\rb"_s << u"a\r\n\r\nb"_s;
    QTest::addRow("line separator kept") << u"a\u2028b\u00a0"_s << u"a\u2028b\u00a0"_s;
    // The scan for breaks goes sixteen bytes at a time: a break at every place in and across
    // those steps.
    for (int offset = 0; offset < 34; ++offset) {
        const QString a(offset, u'a');
        QTest::addRow("pairs then cr after %d", offset)
            << a + u"\r\n\r\n"_s + a + u"\r"_s + a << a + u"\r\n\r\n"_s + a + u"\r\n"_s + a;
        QTest::addRow("pair then lf after %d", offset)
            << a + u"\r\n"_s + a + u"\n"_s << a + u"\r\n"_s + a + u"\r\n"_s;
    }
    // Long enough for many chunks, whose edges must not cut a character or a pair.
    QString lines;
    for (int i = 0; i < 700; ++i)
        lines += u"line "_s + QString::number(i) + (i % 3 ? u"\r"_s : u"\n"_s);
    QTest::addRow("many lines") << lines << TextBuffer::withCrLf(lines);
    // Lines of characters one to four bytes wide, whose units are counted sixteen bytes at a
    // time: a break at every place of those steps, after every kind of character.
    QString widths;
    const QString pieces[] { u"abc"_s, u"\u00e9"_s, u"\u20ac"_s, u"\U0001F600"_s };
    for (int i = 0; i < 600; ++i) {
        widths += QString(i % 17, u'a');
        for (int j = 0; j < i % 29; ++j)
            widths += pieces[(i + j) % 4];
        widths += u"\r\n"_s;
    }
    QTest::addRow("lines of every width") << widths << widths;
    QTest::addRow("long mixed line")
        << longMixed + u"\r"_s + longMixed << longMixed + u"\r\n"_s + longMixed;
    // Longer than a piece, with pairs wherever a piece could end.
    const QString pairs = u"\U0001F600"_s.repeated(40000);
    QTest::addRow("surrogate pairs, several pieces") << pairs << pairs;
    const QString breaks = (QString(998, u'x') + u"\r\n"_s).repeated(80);
    QTest::addRow("line breaks, several pieces") << breaks << breaks;
    // Decoded chunk by chunk: each starts with one, which is a character, not a byte-order mark.
    const QString zeroWidth = u"\ufeff"_s.repeated(3000);
    QTest::addRow("U+FEFF at every chunk start") << zeroWidth << zeroWidth;
}

// Whole, and loaded in two pieces cut at every character (a CR ending one piece and an LF
// starting the next are one break), as UTF-8 and as UTF-16.
void TestTextBuffer::everyBreakBecomesCrLf()
{
    QFETCH(QString, given);
    QFETCH(QString, held);
    TextBuffer buffer;
    buffer.setText(given);
    QVERIFY(sameAs(buffer, held));

    const qsizetype step = std::max<qsizetype>(1, given.size() / 40);
    for (qsizetype cut = 0; cut <= given.size(); cut += step) {
        if (cut > 0 && given.at(cut - 1).isHighSurrogate())
            continue;
        for (bool utf8 : { true, false }) {
            buffer.setText({});
            for (const QString piece : { given.left(cut), given.mid(cut) })
                utf8 ? buffer.appendLoaded(QByteArrayView(piece.toUtf8()))
                     : buffer.appendLoaded(QStringView(piece));
            QVERIFY2(sameAs(buffer, held), qPrintable(u"cut at %1"_s.arg(cut)));
            QVERIFY(!buffer.canUndo());
        }
    }
}

// A program's edit ends the typing's step, and a group is one step; how typing, deleting and
// moving the caret make steps is the view's test.
void TestTextBuffer::undoStepsFollowTheTyping()
{
    TextBuffer buffer;
    buffer.setText(u"ab"_s);
    const auto type = [&](qsizetype position, const QString &text) {
        return buffer.replace(position, 0, text, TextBuffer::Merge::Typing);
    };
    type(type(2, u"c"_s), u"d"_s);
    buffer.replace(4, 0, u"y"_s);
    type(5, u"e"_s);
    buffer.beginUndoGroup(); // text dragged to another place
    buffer.replace(0, 3, QString());
    buffer.replace(3, 0, u"abc"_s);
    buffer.endUndoGroup();
    QVERIFY(sameAs(buffer, u"dyeabc"_s));

    // The text after each undo, and where the undo put text back.
    const std::tuple<QString, qsizetype, qsizetype> undone[] {
        { u"abcdye"_s, 0, 3 }, { u"abcdy"_s, 5, 0 }, { u"abcd"_s, 4, 0 }, { u"ab"_s, 2, 0 }
    };
    for (const auto &[text, position, length] : undone) {
        const TextBuffer::Span span = buffer.undo();
        QVERIFY2(sameAs(buffer, text), qPrintable(text));
        QCOMPARE(std::pair(span.position, span.length), std::pair(position, length));
    }
    QVERIFY(!buffer.canUndo());
    const TextBuffer::Span span = buffer.redo();
    QCOMPARE(QList({ span.position, span.length }), QList<qsizetype>({ 2, 2 }));
    while (buffer.canRedo())
        buffer.redo();
    QVERIFY(sameAs(buffer, u"dyeabc"_s));
}

// Random edits (inside pairs and breaks too), undo, redo and look-ups over many chunks against a
// plain string; slices keep their text, told changes replay to the text, the tree stays sound.
void TestTextBuffer::randomEditsMatchAPlainString()
{
    QString manyLines;
    for (int i = 0; i < 400; ++i)
        manyLines += u"ab\n"_s;
    // As given, and as held.
    const std::pair<QString, QString> pieces[] {
        { u"x"_s, u"x"_s },
        { u"\r\n"_s, u"\r\n"_s },
        { u"\n"_s, u"\r\n"_s },
        { u"\r"_s, u"\r\n"_s },
        { u"word "_s, u"word "_s },
        { u"é"_s, u"é"_s },
        { u"\n\r"_s, u"\r\n\r\n"_s },
        { u"a\rb\n"_s, u"a\r\nb\r\n"_s },
        { u"\U0001F600"_s, u"\U0001F600"_s },
        { u"e\u0301"_s, u"e\u0301"_s },
        { longMixed, longMixed },
        { manyLines, TextBuffer::withCrLf(manyLines) },
        {},
    };
    QRandomGenerator random(20240607);
    TextBuffer::setRewriteSlice(3000); // several slices to a rewrite, its undo and its redo
    TextBuffer buffer;
    QString model = numberedLines(3000, u"\r\n"_s); // 13 chunks of the usual size
    QString replayed;
    buffer.setChangeListener([&](const TextChange &change) {
        if (const auto *renewed = std::get_if<TextRenewed>(&change)) {
            replayed = renewed->text.toString();
            return;
        }
        const auto &replaced = std::get<TextReplaced>(change);
        QVERIFY(replaced.position + replaced.removed <= replayed.size());
        replayed.replace(replaced.position, replaced.removed, replaced.inserted.toString());
    });
    buffer.setText(model);
    QStringList history { model };
    QStringList undone;
    const auto piece = [&] { return pieces[random.bounded(int(std::size(pieces)))]; };
    std::optional<std::pair<TextSlice, QString>> slice;
    const auto takeSlice = [&] {
        const qsizetype position = random.bounded(int(model.size()) + 2) - 1;
        const qsizetype count = random.bounded(int(model.size()) + 1);
        const qsizetype start = snap(model, position);
        const qsizetype end = std::max(start, snap(model, start + count));
        slice.emplace(buffer.slice(position, count), model.mid(start, end - start));
    };
    const auto compareSlice = [&] {
        QCOMPARE(slice->first.length(), slice->second.size());
        QCOMPARE(slice->first.toString(), slice->second);
        QCOMPARE(slice->first.toUtf8(), slice->second.toUtf8());
    };
    for (int step = 0; step < 1500; ++step) {
        const int action = random.bounded(120);
        if (action < 10 && buffer.canUndo()) {
            buffer.undo();
            undone.append(history.takeLast());
            model = history.last();
        } else if (action < 20 && !undone.isEmpty()) {
            buffer.redo();
            model = undone.takeLast();
            history.append(model);
        } else if (action >= 20 && action < 23 && !slice) {
            takeSlice();
        } else if (action >= 20 && action < 23) {
            compareSlice();
            const qsizetype at = snap(model, random.bounded(int(model.size()) + 1));
            QCOMPARE(buffer.replace(at, 0, slice->first), at + slice->second.size());
            if (!slice->second.isEmpty()) {
                model.insert(at, slice->second);
                history.append(model);
                undone.clear();
            }
            slice.reset();
        } else if (action < 28 || model.size() > 80000) {
            // Several ranges at once, in bytes, with one text for all or one each.
            TextBuffer::Rewrite rewrite = buffer.startRewrite();
            const auto shared = piece();
            const auto byteOf
                = [&](qsizetype position) { return model.left(position).toUtf8().size(); };
            QString next;
            qsizetype kept = 0;
            for (qsizetype at = random.bounded(50); at < model.size();
                 at += 1 + random.bounded(int(model.size() / 4 + 1))) {
                const qsizetype length = random.bounded(model.size() > 80000 ? 3000 : 8);
                const auto own = action % 2 ? shared : piece();
                const qsizetype start = std::max(snap(model, at), kept);
                const qsizetype end = std::max(start, snap(model, start + length));
                rewrite.replace(byteOf(start), byteOf(end), own.first);
                next += model.mid(kept, start - kept) + own.second;
                kept = end;
            }
            buffer.finishRewrite(std::move(rewrite));
            next += model.mid(kept);
            if (next != model) {
                model = next;
                history.append(model);
                undone.clear();
            }
        } else {
            const qsizetype position = random.bounded(int(model.size()) + 6) - 2;
            const qsizetype count = action == 30 ? model.size() + 1
                : random.bounded(3) == 0         ? random.bounded(5000) - 1
                                                 : 0;
            const auto &[given, held] = piece();
            const qsizetype start = snap(model, position);
            const qsizetype end
                = std::max(start, snap(model, start + std::max<qsizetype>(count, 0)));
            QCOMPARE(buffer.snapped(position), start);
            QCOMPARE(buffer.replace(position, count, given,
                                    random.bounded(2) ? TextBuffer::Merge::Never
                                                      : TextBuffer::Merge::Typing),
                     start + held.size());
            buffer.breakUndoMerge();
            if (end > start || !held.isEmpty()) {
                model.replace(start, end - start, held);
                history.append(model);
                undone.clear();
            }
        }
        QCOMPARE(buffer.canRedo(), !undone.isEmpty());
        QCOMPARE(buffer.length(), model.size());
        QCOMPARE(replayed, model);
        const QString fault = buffer.whole().treeFault();
        QVERIFY2(fault.isEmpty(), qPrintable(u"after step %1: %2"_s.arg(step).arg(fault)));
        if (slice)
            QCOMPARE(slice->first.treeFault(), QString());
        // Look-ups at a random place.
        const qsizetype at = snap(model, random.bounded(int(model.size()) + 1));
        const QByteArray before = model.left(at).toUtf8();
        const qsizetype line = model.left(at).count(u'\n');
        QCOMPARE(buffer.lineAt(at), line);
        // Starts of the lines before, looked up out of order: a look-up goes on from the last.
        qsizetype starts[4] {};
        for (qsizetype start = at; qsizetype & lineStart : starts) {
            lineStart = start > 0 ? model.lastIndexOf(u'\n', start - 1) + 1 : 0;
            start = lineStart - 2;
        }
        for (const qsizetype back : { 0, 3, 1, 2 })
            QCOMPARE(buffer.lineStart(line - back), line >= back ? starts[back] : 0);
        QCOMPARE(buffer.byteOfPosition(at), before.size());
        QCOMPARE(buffer.positionOfByte(before.size()), at);
        QCOMPARE(buffer.mid(at - 3, 7), model.mid(std::max<qsizetype>(at - 3, 0), 7));
        if (step % 150 == 0 || step > 1495)
            QVERIFY2(sameAs(buffer, model), qPrintable(u"after step %1"_s.arg(step)));
    }
    takeSlice();
    while (buffer.canUndo())
        buffer.undo();
    QVERIFY(sameAs(buffer, history.first()));
    buffer.redo();
    buffer.setText(model); // forgets the history
    QVERIFY(!buffer.canUndo() && !buffer.canRedo());
    QCOMPARE(replayed, model);
    compareSlice();
    TextBuffer::setRewriteSlice(0);
}

// The check the random edits lean on finds each kind of broken tree, and passes a sound one.
void TestTextBuffer::brokenTreesAreFound_data()
{
    QTest::addColumn<rope::NodePtr>("tree");
    QTest::addColumn<QString>("fault");
    const auto leaf
        = [](const QByteArray &bytes) { return rope::makeLeaf(bytes.constData(), bytes.size()); };
    // A node made as given, its counts the sum of its children's unless told otherwise.
    const auto node = [](rope::NodePtr left, rope::NodePtr right, int height,
                         std::optional<rope::Summary> sum = std::nullopt) {
        auto made = std::make_shared<rope::Node>();
        made->sum = sum.value_or(left->sum + right->sum);
        made->clusters = rope::joinedClusters(*left, *right);
        made->height = height;
        made->lastLeafBytes = right->lastLeafBytes;
        made->left = std::move(left);
        made->right = std::move(right);
        return rope::NodePtr(made);
    };
    // Leaves but the last hold at least SmallLeafBytes.
    const QByteArray pad(rope::SmallLeafBytes, 'x');
    const rope::NodePtr a = leaf(pad + "\r\n"), b = leaf("\xc3\xa9\xf0\x9f\x98\x80" + pad);
    const rope::NodePtr c = leaf(pad), pair = node(a, b, 1);

    QTest::addRow("sound") << rope::join(pair, rope::join(c, leaf("\r\nd"))) << QString();
    QTest::addRow("leaf ending inside a character")
        << rope::join(leaf(pad + "\xc3"), leaf("\xa9")) << u"a leaf ending inside a character"_s;
    QTest::addRow("leaf starting inside a character")
        << rope::join(c, leaf("\xa9")) << u"a leaf starting inside a character"_s;
    QTest::addRow("leaves cutting a CR LF")
        << rope::join(leaf(pad + "\r"), leaf("\nb")) << u"a leaf ending between CR and LF"_s;
    QTest::addRow("lone LF") << leaf("a\nb") << u"an LF without its CR"_s;
    QTest::addRow("lone CR") << leaf("a\rb") << u"a CR without its LF"_s;
    QTest::addRow("small leaf before the last")
        << rope::join(leaf("c"), c) << u"a small leaf before the last"_s;
    QTest::addRow("leaf too long") << leaf(QByteArray(rope::MostLeafBytes + 1, 'x'))
                                   << u"a leaf of %1 bytes"_s.arg(rope::MostLeafBytes + 1);
    QTest::addRow("out of balance") << node(node(pair, c, 2), a, 3) << u"a node out of balance"_s;
    QTest::addRow("height not its children's")
        << node(a, c, 2) << u"a node whose height is not its children's"_s;
    rope::Summary wrong = pair->sum;
    ++wrong.longest;
    QTest::addRow("counts not the children's")
        << node(a, b, 1, wrong) << u"a node whose counts are not its children's"_s;
    auto joinMiscounted = std::const_pointer_cast<rope::Node>(node(leaf(pad), leaf("\xcc\x81"), 1));
    ++joinMiscounted->clusters.count; // as if the mark started a cluster of its own
    QTest::addRow("clusters not the children's")
        << rope::NodePtr(joinMiscounted) << u"a node whose counts are not its children's"_s;
    auto miscounted = std::make_shared<rope::Node>();
    miscounted->bytes.reset(new char[1] { 'x' });
    miscounted->sum = leaf("x")->sum;
    miscounted->lastLeafBytes = 1;
    ++miscounted->sum.breaks;
    QTest::addRow("leaf counts not its text's")
        << rope::NodePtr(miscounted) << u"a leaf whose counts are not its text's"_s;
}

void TestTextBuffer::brokenTreesAreFound()
{
    QFETCH(rope::NodePtr, tree);
    QFETCH(QString, fault);
    QCOMPARE(QString::fromStdString(rope::faultIn(tree)), fault);
}

void TestTextBuffer::failedEditChangesNothing_data()
{
    QTest::addColumn<QString>("edit");
    for (const char *edit : { "replace", "type on", "set text", "load bytes", "load text",
                              "load more", "undo", "redo" })
        QTest::addRow("%s", edit) << QString::fromLatin1(edit);
}

// Fails the n-th allocation for every n until the edit goes through: after each failure the text
// and the whole history are as before.
void TestTextBuffer::failedEditChangesNothing()
{
    QFETCH(QString, edit);
    const QString big = numberedLines(400, u"\n"_s) + longMixed;
    const auto prepare = [&](TextBuffer &buffer) {
        buffer.setText(big);
        if (edit == "load more"_L1) {
            buffer.appendLoaded(QByteArrayView("a\r"));
            return;
        }
        buffer.replace(10, 5, u"first"_s);
        buffer.replace(50, 0, u"undone"_s);
        buffer.undo();
        if (edit == "type on"_L1)
            buffer.replace(6000, 0, u"x"_s, TextBuffer::Merge::Typing);
    };
    const auto run = [&](TextBuffer &buffer) {
        if (edit == "replace"_L1)
            buffer.replace(20, 9000, u"new\ntext"_s);
        else if (edit == "type on"_L1)
            buffer.replace(6001, 0, u"y"_s, TextBuffer::Merge::Typing);
        else if (edit == "set text"_L1)
            buffer.setText(big + big);
        else if (edit == "load bytes"_L1 || edit == "load more"_L1)
            buffer.appendLoaded(QByteArrayView(u"\n"_s.toUtf8() + big.toUtf8()));
        else if (edit == "load text"_L1)
            buffer.appendLoaded(QStringView(big));
        else if (edit == "undo"_L1)
            buffer.undo();
        else
            buffer.redo();
    };
    TextBuffer expected;
    prepare(expected);
    const QString text = expected.text();
    const QStringList history = historyOf(expected);
    int allowed = 0;
    // Every allocation while an edit makes few; on leaves of a few bytes, where a load makes
    // thousands, one in a growing number of them.
    for (;; allowed += 1 + allowed / 64) {
        TextBuffer buffer;
        prepare(buffer);
        if (withMemoryFor(allowed, [&] { run(buffer); }) == Ran::Through)
            break;
        QVERIFY2(sameAs(buffer, text), qPrintable(u"failing after %1"_s.arg(allowed)));
        QCOMPARE(historyOf(buffer), history);
    }
    QVERIFY(allowed > 0);
}

// A rewrite, its undo or redo out of memory part way keeps the slices done, and undoing and
// redoing on still reaches both ends exactly.
void TestTextBuffer::failedRewriteKeepsWhatItDid_data()
{
    QTest::addColumn<QString>("edit");
    for (const char *edit : { "rewrite", "undo", "redo" })
        QTest::addRow("%s", edit) << QString::fromLatin1(edit);
}

void TestTextBuffer::failedRewriteKeepsWhatItDid()
{
    QFETCH(QString, edit);
    const QString text = numberedLines(300, u"\r\n"_s);
    // Every tenth line's number is replaced by '#'.
    const QByteArray utf8 = text.toUtf8();
    QList<std::pair<qint64, qint64>> ranges;
    for (int i = 0; i < 300; i += 10) {
        const QByteArray number = QByteArray::number(i);
        const qint64 byte = utf8.indexOf(" " + number + "\r") + 1;
        ranges.append({ byte, byte + number.size() });
    }
    const auto startRewrite = [&](TextBuffer &buffer) {
        TextBuffer::Rewrite rewrite = buffer.startRewrite();
        for (const auto &[from, to] : ranges)
            rewrite.replace(from, to, u"#"_s);
        return rewrite;
    };
    // The texts with the first few ranges replaced, and with the last few.
    QStringList firstFew, lastFew;
    for (qsizetype k = 0; k <= ranges.size(); ++k) {
        QByteArray first = utf8, last = utf8;
        for (qsizetype r = ranges.size() - 1; r >= 0; --r)
            (r < k ? first : last)
                .replace(ranges[r].first, ranges[r].second - ranges[r].first, "#");
        firstFew << QString::fromUtf8(first);
        lastFew << QString::fromUtf8(last);
    }
    const QString all = firstFew.last();
    const auto prepare = [&](TextBuffer &buffer) {
        buffer.setText(text);
        buffer.replace(0, 4, u"LINE"_s);
        buffer.undo();
        if (edit == "rewrite"_L1)
            return;
        buffer.finishRewrite(startRewrite(buffer));
        if (edit == "redo"_L1)
            buffer.undo();
    };
    TextBuffer::setRewriteSlice(1000);
    TextBuffer expected;
    prepare(expected);
    const QStringList history = historyOf(expected);
    int partial = 0;
    for (int allowed = 0;; ++allowed) {
        TextBuffer buffer;
        prepare(buffer);
        const QString before = buffer.text();
        const Ran ran = withMemoryFor(allowed, [&] {
            if (edit == "rewrite"_L1)
                buffer.finishRewrite(startRewrite(buffer));
            else if (edit == "undo"_L1)
                buffer.undo();
            else
                buffer.redo();
        });
        if (ran == Ran::Through) {
            QVERIFY(sameAs(buffer, edit == "undo"_L1 ? text : all));
            break;
        }
        if (ran == Ran::Not) {
            QVERIFY(sameAs(buffer, before));
            QCOMPARE(historyOf(buffer), history);
            continue;
        }
        ++partial;
        const QString kept = buffer.text();
        QVERIFY(kept != before);
        QVERIFY(edit == "undo"_L1 ? lastFew.contains(kept) : firstFew.contains(kept));
        if (edit == "rewrite"_L1) {
            QVERIFY(!buffer.canRedo());
            buffer.undo();
            QVERIFY(sameAs(buffer, text));
            buffer.redo();
            QVERIFY(sameAs(buffer, kept));
            continue;
        }
        while (buffer.canRedo())
            buffer.redo();
        QVERIFY(sameAs(buffer, all));
        while (buffer.canUndo())
            buffer.undo();
        QVERIFY(sameAs(buffer, text));
    }
    TextBuffer::setRewriteSlice(0);
    QVERIFY(partial > 0);
}

// Replacing in every chunk: the old chunks are let go as the walk passes them, so the text never
// stands twice, and the undo step keeps the replaced texts, not the old text.
void TestTextBuffer::rewriteLetsTheOldTextGo()
{
    QString text;
    for (int i = 0; i < 100000; ++i)
        text += u"field,%1\r\n"_s.arg(i);
    TextBuffer buffer;
    buffer.setText(text);
    const qint64 nodes = rope::nodeCount().live;
    TextBuffer::Rewrite rewrite = buffer.startRewrite();
    for (qint64 byte = 0; byte < buffer.byteLength(); byte += 100)
        rewrite.replace(byte, byte + 1, u"F"_s);
    TextBuffer::setRewriteSlice(64 * 1024);
    rope::resetPeak();
    buffer.finishRewrite(std::move(rewrite));
    TextBuffer::setRewriteSlice(0);
    const rope::NodeCount after = rope::nodeCount();
    QVERIFY2(after.peak - nodes < nodes / 4,
             qPrintable(u"%1 nodes, %2 more at the peak"_s.arg(nodes).arg(after.peak - nodes)));
    QVERIFY(after.live <= nodes + 1);
    buffer.undo();
    QVERIFY(buffer.text() == text);
}

// An edit makes new nodes along its path only and shares the rest of the text, whatever the
// sizes of the chunks around it: typing a few characters never rebuilds a megabyte.
void TestTextBuffer::editsRebuildOnlyTheirPath_data()
{
    QTest::addColumn<double>("where");
    QTest::addRow("top") << 0.0;
    QTest::addRow("middle") << 0.5;
    QTest::addRow("end") << 1.0;
}

void TestTextBuffer::editsRebuildOnlyTheirPath()
{
    QFETCH(double, where);
    const QString text(256 * rope::LeafBytes, u'a'); // chunks all of one size
    TextBuffer buffer;
    buffer.setText(text);
    const qsizetype at = buffer.snapped(qsizetype(where * double(text.size())));
    // Room for a path of a 256-chunk text, and a few chunks.
    const auto type = [&](qsizetype position) {
        return withMemoryFor(
            40, [&] { buffer.replace(position, 0, u"x"_s, TextBuffer::Merge::Typing); });
    };
    for (int key = 0; key < 40; ++key)
        QVERIFY2(type(at + key) == Ran::Through,
                 qPrintable(u"key %1 rebuilt more than its path"_s.arg(key)));
    QCOMPARE(buffer.length(), text.size() + 40);
}

QTEST_APPLESS_MAIN(TestTextBuffer)
#include "tst_textbuffer.moc"
