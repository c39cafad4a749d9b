#include "textslice.h"

#include "rope.h"
#include "storedform.h"

#include <algorithm>

TextSlice::TextSlice(QStringView text) : m_tree(storedform::treeOf(text)) { }

TextSlice TextSlice::fromUtf8(QByteArrayView utf8)
{
    rope::Builder builder;
    bool endedWithCr = false;
    storedform::appendUtf8(builder, utf8.data(), utf8.size(), endedWithCr);
    return TextSlice(builder.tree());
}

qsizetype TextSlice::length() const { return rope::units(m_tree); }

QString TextSlice::toString() const
{
    QString text(length(), Qt::Uninitialized);
    if (m_tree) {
        QChar *out = text.data();
        QStringDecoder decoder = storedform::utf8Decoder();
        rope::visitForward(*m_tree, 0, 0, [&](QByteArrayView bytes, qint64) {
            out = decoder.appendToBuffer(out, bytes);
            return true;
        });
    }
    return text;
}

qint64 TextSlice::byteLength() const { return rope::bytes(m_tree); }

void TextSlice::readUtf8(const std::function<bool(QByteArrayView)> &visit) const
{
    if (m_tree)
        rope::visitForward(*m_tree, 0, 0,
                           [&](QByteArrayView bytes, qint64) { return visit(bytes); });
}

TextSlice::ClusterSpan TextSlice::clusterSpan(qsizetype from, qsizetype to) const
{
    const rope::ClusterSpan span = rope::clusterSpan(m_tree, from, to);
    return { span.from, span.to, span.clusters };
}

QString TextSlice::treeFault() const { return QString::fromStdString(rope::faultIn(m_tree)); }

QByteArray TextSlice::toUtf8() const
{
    QByteArray bytes(rope::bytes(m_tree), Qt::Uninitialized);
    if (m_tree) {
        char *out = bytes.data();
        rope::visitForward(*m_tree, 0, 0, [&](QByteArrayView chunk, qint64) {
            out = std::copy(chunk.begin(), chunk.end(), out);
            return true;
        });
    }
    return bytes;
}
