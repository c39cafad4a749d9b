#include "qtcommondialog.h"

#include "fontdialog.h"

#include <QFileDialog>

using namespace Qt::StringLiterals;

QtCommonDialog::QtCommonDialog(QWidget *parent) : m_parent(parent) { }

QStringList QtCommonDialog::nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        const QString pattern = parts.at(i + 1).trimmed();
        // Qt reads the patterns from the last parentheses of a filter.
        if (description.endsWith(u'(' + pattern + u')'))
            result.append(description);
        else
            result.append(description + u" ("_s + pattern + u')');
    }
    return result;
}

void QtCommonDialog::showFileDialog(bool save)
{
    QFileDialog dialog(m_parent, dialogTitle());
    dialog.setObjectName(save ? u"saveDialog"_s : u"openDialog"_s);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = nameFilters(filter());
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    // A cancelled dialog gives no name, never the one chosen before.
    setFileName(QString());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty())
        setFileName(chosen.constFirst());
}

void QtCommonDialog::showOpen()
{
    showFileDialog(false);
}

void QtCommonDialog::showSave()
{
    showFileDialog(true);
}

void QtCommonDialog::showFont()
{
    FontDialog dialog(m_parent);
    dialog.readFrom(*this);
    // A cancelled dialog leaves every property as it was.
    if (dialog.exec() == QDialog::Accepted)
        dialog.writeTo(*this);
}
