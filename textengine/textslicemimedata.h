#pragma once

#include "textslice.h"

#include <QClipboard>
#include <QMimeData>

// Clipboard and drag data holding a TextSlice: the plain text is made only when someone asks
// for it (a paste, another program, a clipboard manager at exit), as UTF-8 straight from the
// chunks where bytes are wanted. A paste into this program can take the slice itself.
class TextSliceMimeData : public QMimeData
{
    Q_OBJECT

public:
    explicit TextSliceMimeData(TextSlice slice) : m_slice(std::move(slice)) { }

    const TextSlice &slice() const { return m_slice; }
    // The slice the data holds when it is of this kind, or nullptr.
    static const TextSlice *sliceOf(const QMimeData *data);
    // The data's text: its own slice, or else its plain text taken into a slice of its own.
    static TextSlice textOf(const QMimeData *data);
    static TextSlice clipboardText(QClipboard::Mode mode = QClipboard::Clipboard);

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    TextSlice m_slice;
};
