#include "textslicemimedata.h"

#include <QGuiApplication>

using namespace Qt::StringLiterals;

namespace {
const QString plainText = u"text/plain"_s;
}

const TextSlice *TextSliceMimeData::sliceOf(const QMimeData *data)
{
    const auto *own = qobject_cast<const TextSliceMimeData *>(data);
    return own ? &own->m_slice : nullptr;
}

TextSlice TextSliceMimeData::textOf(const QMimeData *data)
{
    if (const TextSlice *own = sliceOf(data))
        return *own;
    return data ? TextSlice(data->text()) : TextSlice();
}

TextSlice TextSliceMimeData::clipboardText(QClipboard::Mode mode)
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (const TextSlice *own = sliceOf(clipboard->mimeData(mode)))
        return *own;
    return TextSlice(clipboard->text(mode));
}

QStringList TextSliceMimeData::formats() const { return { plainText }; }

bool TextSliceMimeData::hasFormat(const QString &mimeType) const { return mimeType == plainText; }

QVariant TextSliceMimeData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (mimeType != plainText)
        return {};
    if (type.id() == QMetaType::QByteArray)
        return m_slice.toUtf8();
    return m_slice.toString();
}
