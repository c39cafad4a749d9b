#include "textbuffer.h"

#include <QtAlgorithms>

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr qsizetype SmallestGap = 1024;

// The next CR or LF at or after from, or -1. Loading a text is mostly this scan, so it looks at
// eight characters at a time where it can.
qsizetype nextBreak(const char16_t *data, qsizetype from, qsizetype size)
{
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i lf = _mm_set1_epi16(u'\n');
    for (; from + 8 <= size; from += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + from));
        const int found = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi16(chars, cr), _mm_cmpeq_epi16(chars, lf)));
        if (found != 0)
            return from + qCountTrailingZeroBits(uint(found)) / 2;
    }
#endif
    for (; from < size; ++from) {
        if (data[from] == u'\r' || data[from] == u'\n')
            return from;
    }
    return -1;
}

} // namespace

TextBuffer::TextBuffer() { m_lineStarts.push_back(0); }

QString TextBuffer::withCrLf(const QString &text)
{
    const QStringView view(text);
    if (!view.contains(u'\r') && !view.contains(u'\n'))
        return text;
    QString result;
    result.reserve(text.size() + text.size() / 8 + 2);
    const qsizetype size = text.size();
    const char16_t *in = view.utf16();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = in[i];
        if (c != u'\r' && c != u'\n')
            continue;
        result.append(QStringView(in + runStart, i - runStart));
        result.append(u"\r\n");
        if (c == u'\r' && i + 1 < size && in[i + 1] == u'\n')
            ++i;
        runStart = i + 1;
    }
    result.append(QStringView(in + runStart, size - runStart));
    return result;
}

void TextBuffer::setText(const QString &text)
{
    // One pass finds the line starts and, at the first break that is not a CR LF pair, falls
    // back to converting the breaks first.
    std::vector<qsizetype> starts;
    starts.push_back(0);
    const auto *data = reinterpret_cast<const char16_t *>(text.utf16());
    const qsizetype size = text.size();
    bool crLfOnly = true;
    for (qsizetype at = nextBreak(data, 0, size); at >= 0; at = nextBreak(data, at + 2, size)) {
        if (data[at] != u'\r' || at + 1 >= size || data[at + 1] != u'\n') {
            crLfOnly = false;
            break;
        }
        starts.push_back(at + 2);
    }
    if (crLfOnly) {
        m_data = text;
    } else {
        m_data = withCrLf(text);
        starts.clear();
        starts.push_back(0);
        const QStringView converted(m_data);
        for (qsizetype lf = converted.indexOf(u'\n'); lf >= 0;
             lf = converted.indexOf(u'\n', lf + 1))
            starts.push_back(lf + 1);
    }
    m_length = m_data.size();
    m_gapStart = m_length;
    m_gapLength = 0;
    m_lineStarts = std::move(starts);
    m_deltaLine = 0;
    m_delta = 0;
    m_longestLine = 0;
    for (size_t i = 0; i < m_lineStarts.size(); ++i) {
        const qsizetype end = i + 1 < m_lineStarts.size() ? m_lineStarts[i + 1] - 2 : m_length;
        m_longestLine = std::max(m_longestLine, end - m_lineStarts[i]);
    }
    clearUndo();
}

QString TextBuffer::text() const
{
    if (m_gapLength > 0) {
        moveGap(m_length);
        m_data.resize(m_length);
        m_gapLength = 0;
    }
    return m_data;
}

QChar TextBuffer::at(qsizetype position) const { return QChar(storage()[rawIndex(position)]); }

QString TextBuffer::mid(qsizetype position, qsizetype count) const
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    count = std::clamp<qsizetype>(count, 0, m_length - position);
    if (count == m_length)
        return text();
    const char16_t *data = storage();
    const qsizetype end = position + count;
    if (end <= m_gapStart || position >= m_gapStart)
        return QString(reinterpret_cast<const QChar *>(data + rawIndex(position)), count);
    QString result;
    result.reserve(count);
    result.append(QStringView(data + position, m_gapStart - position));
    result.append(QStringView(data + m_gapStart + m_gapLength, end - m_gapStart));
    return result;
}

qsizetype TextBuffer::lineStart(qsizetype line) const
{
    const qsizetype stored = m_lineStarts[size_t(line)];
    return line > m_deltaLine ? stored + m_delta : stored;
}

qsizetype TextBuffer::lineLength(qsizetype line) const
{
    const qsizetype end = line + 1 < lineCount() ? lineStart(line + 1) - 2 : m_length;
    return end - lineStart(line);
}

qsizetype TextBuffer::lineAt(qsizetype position) const
{
    qsizetype low = 0;
    qsizetype high = lineCount() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (lineStart(middle) <= position)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

qsizetype TextBuffer::snapped(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    if (position > 0 && position < m_length && at(position) == u'\n' && at(position - 1) == u'\r')
        return position - 1;
    return position;
}

void TextBuffer::moveGap(qsizetype position) const
{
    if (position == m_gapStart)
        return;
    if (m_gapLength == 0) {
        m_gapStart = position;
        return;
    }
    char16_t *data = reinterpret_cast<char16_t *>(m_data.data());
    if (position < m_gapStart) {
        const qsizetype moved = m_gapStart - position;
        std::memmove(data + position + m_gapLength, data + position, size_t(moved) * 2);
    } else {
        const qsizetype moved = position - m_gapStart;
        std::memmove(data + m_gapStart, data + m_gapStart + m_gapLength, size_t(moved) * 2);
    }
    m_gapStart = position;
}

void TextBuffer::reserveGap(qsizetype needed)
{
    if (m_gapLength >= needed)
        return;
    const qsizetype newGap = needed + std::max(SmallestGap, m_length / 64);
    const qsizetype tailStart = m_gapStart + m_gapLength;
    const qsizetype tailLength = m_data.size() - tailStart;
    m_data.resize(m_length + newGap);
    char16_t *data = reinterpret_cast<char16_t *>(m_data.data());
    std::memmove(data + m_gapStart + newGap, data + tailStart, size_t(tailLength) * 2);
    m_gapLength = newGap;
}

void TextBuffer::settleLinesAt(qsizetype line)
{
    if (m_delta != 0) {
        if (line > m_deltaLine) {
            for (qsizetype i = m_deltaLine + 1; i <= line; ++i)
                m_lineStarts[size_t(i)] += m_delta;
        } else {
            for (qsizetype i = line + 1; i <= m_deltaLine; ++i)
                m_lineStarts[size_t(i)] -= m_delta;
        }
    }
    m_deltaLine = line;
}

void TextBuffer::apply(qsizetype position, qsizetype count, const QString &text)
{
    const qsizetype firstLine = lineAt(position);
    const qsizetype lastLine = count > 0 ? lineAt(position + count) : firstLine;

    moveGap(position);
    m_gapLength += count;
    m_length -= count;
    const qsizetype added = text.size();
    reserveGap(added);
    if (added > 0) {
        char16_t *data = reinterpret_cast<char16_t *>(m_data.data());
        std::memcpy(data + m_gapStart, text.utf16(), size_t(added) * 2);
        m_gapStart += added;
        m_gapLength -= added;
        m_length += added;
    }

    settleLinesAt(std::min(firstLine, lineCount() - 1));
    std::vector<qsizetype> newStarts;
    const QStringView view(text);
    for (qsizetype lf = view.indexOf(u'\n'); lf >= 0; lf = view.indexOf(u'\n', lf + 1))
        newStarts.push_back(position + lf + 1);
    const auto at = m_lineStarts.begin() + firstLine + 1;
    const auto erased = m_lineStarts.erase(at, at + (lastLine - firstLine));
    m_lineStarts.insert(erased, newStarts.begin(), newStarts.end());
    m_deltaLine = firstLine + qsizetype(newStarts.size());
    m_delta += added - count;

    for (qsizetype line = firstLine; line <= m_deltaLine; ++line)
        m_longestLine = std::max(m_longestLine, lineLength(line));
}

qsizetype TextBuffer::replace(qsizetype position, qsizetype count, const QString &text, Merge merge)
{
    const qsizetype start = snapped(position);
    const qsizetype end = std::max(start, snapped(start + std::max<qsizetype>(0, count)));
    const QString inserted = withCrLf(text);
    if (end == start && inserted.isEmpty())
        return start;
    record({ start, mid(start, end - start), inserted }, merge);
    apply(start, end - start, inserted);
    return start + inserted.size();
}

void TextBuffer::record(Edit edit, Merge merge)
{
    m_redo.clear();
    if (m_groupDepth > 0) {
        if (!m_groupStarted) {
            m_undo.emplace_back();
            m_groupStarted = true;
        }
        m_undo.back().push_back(std::move(edit));
        return;
    }
    if (merge == Merge::Typing && m_mergeOpen && !m_undo.empty()) {
        Edit &last = m_undo.back().back();
        // Typing over a selection and going on typing is one step.
        if (edit.removed.isEmpty() && !last.inserted.isEmpty()
            && edit.position == last.position + last.inserted.size()) {
            last.inserted += edit.inserted;
            return;
        }
        if (edit.inserted.isEmpty() && last.inserted.isEmpty()) {
            if (edit.position + edit.removed.size() == last.position) {
                last.removed.prepend(edit.removed);
                last.position = edit.position;
                return;
            }
            if (edit.position == last.position) {
                last.removed += edit.removed;
                return;
            }
        }
    }
    m_undo.push_back({ std::move(edit) });
    m_mergeOpen = merge == Merge::Typing;
}

void TextBuffer::beginUndoGroup()
{
    if (m_groupDepth++ == 0)
        m_groupStarted = false;
    m_mergeOpen = false;
}

void TextBuffer::endUndoGroup()
{
    if (m_groupDepth > 0)
        --m_groupDepth;
    m_mergeOpen = false;
}

void TextBuffer::clearUndo()
{
    m_undo.clear();
    m_redo.clear();
    m_mergeOpen = false;
}

TextBuffer::Span TextBuffer::applyStep(const Step &step, bool forward)
{
    Span span;
    if (forward) {
        for (const Edit &edit : step) {
            apply(edit.position, edit.removed.size(), edit.inserted);
            span = { edit.position, edit.inserted.size() };
        }
    } else {
        for (auto edit = step.rbegin(); edit != step.rend(); ++edit) {
            apply(edit->position, edit->inserted.size(), edit->removed);
            span = { edit->position, edit->removed.size() };
        }
    }
    return span;
}

TextBuffer::Span TextBuffer::undo()
{
    return moveStep(m_undo, m_redo, false);
}

TextBuffer::Span TextBuffer::redo()
{
    return moveStep(m_redo, m_undo, true);
}

// Takes the last step of one history, applies it in the given direction and files it in the
// other.
TextBuffer::Span TextBuffer::moveStep(std::vector<Step> &from, std::vector<Step> &to, bool forward)
{
    m_mergeOpen = false;
    if (from.empty())
        return { snapped(m_length), 0 };
    Step step = std::move(from.back());
    from.pop_back();
    const Span span = applyStep(step, forward);
    to.push_back(std::move(step));
    return span;
}
