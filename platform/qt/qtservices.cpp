#include "qtservices.h"

#include "qttextsnapshot.h"
#include "textslicemimedata.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

void QtClipboard::clear()
{
    QGuiApplication::clipboard()->clear();
}

void QtClipboard::setText(std::shared_ptr<const TextSnapshot> text)
{
    QGuiApplication::clipboard()->setMimeData(
            new TextSliceMimeData(QtTextSnapshot::sliceOf(*text)));
}

std::shared_ptr<const TextSnapshot> QtClipboard::text() const
{
    return std::make_shared<QtTextSnapshot>(TextSliceMimeData::clipboardText());
}

QtScreenPointer::~QtScreenPointer()
{
    setMousePointer(Default);
}

void QtScreenPointer::setMousePointer(int pointer)
{
    if (pointer == m_pointer)
        return;
    if (m_pointer != Default)
        QGuiApplication::restoreOverrideCursor();
    m_pointer = pointer;
    if (pointer == Hourglass)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else if (pointer != Default)
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
}

namespace {

struct ButtonSet
{
    QList<QPair<QMessageBox::StandardButton, int>> buttons;
};

ButtonSet buttonsFor(int style)
{
    using B = QMessageBox;
    switch (style & 7) {
    case MessageBoxes::OkCancel:
        return { { { B::Ok, MessageBoxes::Ok }, { B::Cancel, MessageBoxes::Cancel } } };
    case MessageBoxes::AbortRetryIgnore:
        return { { { B::Abort, MessageBoxes::Abort },
                   { B::Retry, MessageBoxes::Retry },
                   { B::Ignore, MessageBoxes::Ignore } } };
    case MessageBoxes::YesNoCancel:
        return { { { B::Yes, MessageBoxes::Yes },
                   { B::No, MessageBoxes::No },
                   { B::Cancel, MessageBoxes::Cancel } } };
    case MessageBoxes::YesNo:
        return { { { B::Yes, MessageBoxes::Yes }, { B::No, MessageBoxes::No } } };
    case MessageBoxes::RetryCancel:
        return { { { B::Retry, MessageBoxes::Retry }, { B::Cancel, MessageBoxes::Cancel } } };
    default:
        return { { { B::Ok, MessageBoxes::Ok } } };
    }
}

QMessageBox::Icon iconFor(int style)
{
    switch (style & 0x70) {
    case MessageBoxes::Critical:
        return QMessageBox::Critical;
    case MessageBoxes::Question:
        return QMessageBox::Question;
    case MessageBoxes::Exclamation:
        return QMessageBox::Warning;
    case MessageBoxes::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int QtMessageBoxes::msgBox(const QString &prompt, int style, const QString &title)
{
    QMessageBox box(iconFor(style), title, prompt, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setObjectName(u"msgBox"_s);
    box.setTextFormat(Qt::PlainText);
    const ButtonSet set = buttonsFor(style);
    QList<QAbstractButton *> buttons;
    for (const auto &[button, reply] : set.buttons)
        buttons.append(box.addButton(button));
    const int defaultIndex = (style & MessageBoxes::DefaultButton3) ? 2
            : (style & MessageBoxes::DefaultButton2)                ? 1
                                                                    : 0;
    box.setDefaultButton(
            qobject_cast<QPushButton *>(buttons.value(qMin(defaultIndex, buttons.size() - 1))));
    // Escape answers with the last button (Cancel or No), or OK when it stands alone.
    box.setEscapeButton(buttons.constLast());
    box.exec();
    const int clicked = buttons.indexOf(box.clickedButton());
    if (clicked < 0)
        return set.buttons.constLast().second;
    return set.buttons.at(clicked).second;
}

bool QtNumberInput::askNumber(const QString &title, const QString &label, qint64 minimum,
                              qint64 maximum, qint64 &value)
{
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(u"numberInput"_s);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setInputMode(QInputDialog::IntInput);
    // The spin box counts in int: a text of more lines than that offers the first ones.
    constexpr qint64 largest = std::numeric_limits<int>::max();
    dialog.setIntRange(int(qBound<qint64>(0, minimum, largest)),
                       int(qBound<qint64>(0, maximum, largest)));
    dialog.setIntValue(int(qBound<qint64>(minimum, value, qMin(maximum, largest))));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = dialog.intValue();
    return true;
}
