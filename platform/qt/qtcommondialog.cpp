#include "qtcommondialog.h"

#include "fontdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

// Qt's file dialog reads quotation marks in the typed name as the bounds of several names, so
// a"b.txt would choose b.txt. Where the typed name holds one, this dialog takes it whole, makes
// the checks Qt's own accept would make, and hands it over as it is.
class SingleFileDialog : public QFileDialog
{
public:
    SingleFileDialog(QWidget *parent, const QString &title, bool save)
        : QFileDialog(parent, title), m_save(save)
    {
        setAcceptMode(save ? AcceptSave : AcceptOpen);
        setFileMode(save ? AnyFile : ExistingFile);
    }

    // The name typed with a quotation mark, or empty where Qt's own choice stands.
    QString typedFile() const { return m_typed; }

    void accept() override
    {
        QLineEdit *edit = nameEdit();
        if (!edit || !edit->text().contains(u'"')) {
            QFileDialog::accept();
            return;
        }
        QString name = edit->text();
        if (name.startsWith(u"~/"_s))
            name.replace(0, 1, QDir::homePath());
        const QFileInfo info(directory().absoluteFilePath(name));
        if (info.isDir()) {
            setDirectory(info.absoluteFilePath());
            edit->clear();
            return;
        }
        if (!m_save && !info.exists()) {
            QMessageBox::warning(this, windowTitle(),
                                 tr("%1\nFile not found.\nPlease verify the correct file name "
                                    "was given.")
                                     .arg(info.fileName()));
            return;
        }
        if (m_save && info.exists()
            && QMessageBox::warning(
                   this, windowTitle(),
                   tr("%1 already exists.\nDo you want to replace it?").arg(info.fileName()),
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                != QMessageBox::Yes)
            return;
        m_typed = info.filePath();
        QDialog::accept();
    }

protected:
    void showEvent(QShowEvent *event) override
    {
        // Qt judges the split name and may refuse the button for it; the whole name is judged
        // at accept instead. The widgets exist once the dialog is shown.
        QLineEdit *edit = nameEdit();
        if (!m_watching && edit) {
            m_watching = true;
            connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) {
                if (text.contains(u'"') && acceptButton())
                    acceptButton()->setEnabled(true);
            });
        }
        QFileDialog::showEvent(event);
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        // The default button may be disabled for the split name.
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && nameEdit() && nameEdit()->hasFocus() && nameEdit()->text().contains(u'"')) {
            accept();
            return;
        }
        QFileDialog::keyPressEvent(event);
    }

private:
    QLineEdit *nameEdit() const { return findChild<QLineEdit *>(u"fileNameEdit"_s); }
    QPushButton *acceptButton() const
    {
        auto *buttons = findChild<QDialogButtonBox *>(u"buttonBox"_s);
        return buttons ? buttons->button(m_save ? QDialogButtonBox::Save : QDialogButtonBox::Open)
                       : nullptr;
    }

    bool m_save;
    bool m_watching = false;
    QString m_typed;
};

} // namespace

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
    SingleFileDialog dialog(m_parent, dialogTitle(), save);
    dialog.setObjectName(save ? u"saveDialog"_s : u"openDialog"_s);
    const QStringList filters = nameFilters(filter());
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    // A cancelled dialog gives no name, never the one chosen before.
    setFileName(QString());
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!dialog.typedFile().isEmpty()) {
        setFileName(dialog.typedFile());
        return;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty())
        setFileName(chosen.constFirst());
}

void QtCommonDialog::showOpen() { showFileDialog(false); }

void QtCommonDialog::showSave() { showFileDialog(true); }

void QtCommonDialog::showFont()
{
    FontDialog dialog(m_parent);
    dialog.readFrom(*this);
    // A cancelled dialog leaves every property as it was.
    if (dialog.exec() == QDialog::Accepted)
        dialog.writeTo(*this);
}
