#pragma once

#include <QMimeData>
#include <QString>
#include <QUrl>

// The first local file a drag carries, or the empty string: a file dragged from a file manager
// is opened, whereas text, and the addresses of things that are not local files, are inserted.
inline QString droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}
