#include "qtfinddialog.h"

#include "notice.h"

#include <QAction>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

template<typename Widget>
Widget *named(Widget *widget, const QString &name, const QString &accessibleName)
{
    widget->setObjectName(name);
    widget->setAccessibleName(accessibleName);
    return widget;
}

} // namespace

QtFindDialog::QtFindDialog(QWidget *parent)
    : QDialog(parent), m_findWhat(named(new QLineEdit, u"findWhat"_s, u"Find what"_s)),
      m_replaceLabel(new QLabel(u"Replace w&ith:"_s)),
      m_replaceWith(named(new QLineEdit, u"replaceWith"_s, u"Replace with"_s)),
      m_matchCase(named(new QCheckBox(u"Match &case"_s), u"matchCase"_s, u"Match case"_s)),
      m_wholeWords(named(new QCheckBox(u"Wh&ole words"_s), u"wholeWords"_s, u"Whole words"_s)),
      m_regularExpression(named(new QCheckBox(u"Regular e&xpression"_s), u"regularExpression"_s,
                                u"Regular expression"_s)),
      m_wrapAround(named(new QCheckBox(u"Wra&p around"_s), u"wrapAround"_s, u"Wrap around"_s)),
      m_up(named(new QRadioButton(u"&Up"_s), u"up"_s, u"Up"_s)),
      m_down(named(new QRadioButton(u"&Down"_s), u"down"_s, u"Down"_s)),
      m_findNext(button(u"findNext"_s, u"Find &Next"_s)),
      m_replace(button(u"replace"_s, u"&Replace"_s)),
      m_replaceAll(button(u"replaceAll"_s, u"Replace &All"_s)),
      m_close(button(u"close"_s, u"Close"_s)), m_message(new Notice)
{
    setModal(false);
    auto *findLabel = new QLabel(u"Find &what:"_s);
    findLabel->setBuddy(m_findWhat);
    m_replaceLabel->setBuddy(m_replaceWith);
    m_down->setChecked(true);
    m_wrapAround->setChecked(true);
    m_findNext->setDefault(true);
    m_message->setObjectName(u"message"_s);
    m_message->setAccessibleDescription(u"Search result"_s);

    auto *direction = new QGroupBox(u"Direction"_s);
    direction->setObjectName(u"direction"_s);
    auto *directions = new QHBoxLayout(direction);
    directions->addWidget(m_up);
    directions->addWidget(m_down);

    auto *fields = new QGridLayout;
    fields->addWidget(findLabel, 0, 0);
    fields->addWidget(m_findWhat, 0, 1);
    fields->addWidget(m_replaceLabel, 1, 0);
    fields->addWidget(m_replaceWith, 1, 1);
    fields->addWidget(m_matchCase, 2, 0, 1, 2);
    fields->addWidget(m_wholeWords, 3, 0, 1, 2);
    fields->addWidget(m_regularExpression, 4, 0, 1, 2);
    fields->addWidget(m_wrapAround, 5, 0, 1, 2);
    fields->addWidget(direction, 6, 0, 1, 2);
    fields->addWidget(m_message, 7, 0, 1, 2);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *b : { m_findNext, m_replace, m_replaceAll, m_close })
        buttons->addWidget(b);
    buttons->addStretch();

    auto *layout = new QHBoxLayout(this);
    layout->addLayout(fields, 1);
    layout->addLayout(buttons);

    setTabOrder(m_findWhat, m_replaceWith);
    setTabOrder(m_replaceWith, m_matchCase);
    setTabOrder(m_matchCase, m_wholeWords);
    setTabOrder(m_wholeWords, m_regularExpression);
    setTabOrder(m_regularExpression, m_wrapAround);
    setTabOrder(m_wrapAround, m_up);
    setTabOrder(m_up, m_down);
    setTabOrder(m_down, m_findNext);
    // The direction group is one stop of Tab, at its checked button; the arrows move within it.
    for (QRadioButton *direction : { m_up, m_down }) {
        connect(direction, &QRadioButton::toggled, this, [direction](bool checked) {
            direction->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
        });
        direction->setFocusPolicy(direction->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    }
    setTabOrder(m_findNext, m_replace);
    setTabOrder(m_replace, m_replaceAll);
    setTabOrder(m_replaceAll, m_close);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    // A new pattern or option makes the last result stale.
    connect(m_findWhat, &QLineEdit::textEdited, this, [this] { m_message->setMessage(QString()); });
}

QPushButton *QtFindDialog::button(const QString &name, const QString &caption)
{
    auto *pushButton = new QPushButton(caption);
    pushButton->setObjectName(name);
    pushButton->setAccessibleName(QString(caption).remove(u'&'));
    pushButton->setAutoDefault(false);
    return pushButton;
}

void QtFindDialog::raiseEvent(const std::function<void()> &handler)
{
    if (!handler)
        return;
    if (m_dispatcher)
        m_dispatcher(handler);
    else
        handler();
}

void QtFindDialog::connectEvent(QPushButton *pushButton, const std::function<void()> &handler)
{
    connect(pushButton, &QPushButton::clicked, this, [this, handler] { raiseEvent(handler); });
}

// The window's menu keys do not reach a dialog of its own, so the dialog answers F3 itself.
void QtFindDialog::connectKey(const QKeySequence &key, const std::function<void()> &handler)
{
    auto *action = new QAction(this);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
    connect(action, &QAction::triggered, this, [this, handler] { raiseEvent(handler); });
}

void QtFindDialog::applyDesign(const FindDialogDesign &design,
                               std::function<void(const std::function<void()> &)> dispatcher)
{
    setObjectName(design.name);
    m_dispatcher = std::move(dispatcher);
    connectEvent(m_findNext, design.findNext);
    connectEvent(m_replace, design.replace);
    connectEvent(m_replaceAll, design.replaceAll);
    connectKey(QKeySequence(Qt::Key_F3), design.findAgain);
    connectKey(QKeySequence(Qt::SHIFT | Qt::Key_F3), design.findAgainUp);
}

void QtFindDialog::show(Mode mode, const QString &seed)
{
    const bool replacing = mode == Mode::Replace;
    setWindowTitle(replacing ? u"Replace"_s : u"Find"_s);
    for (QWidget *widget :
         { static_cast<QWidget *>(m_replaceLabel), static_cast<QWidget *>(m_replaceWith),
           static_cast<QWidget *>(m_replace), static_cast<QWidget *>(m_replaceAll) })
        widget->setVisible(replacing);
    if (!seed.isEmpty())
        m_findWhat->setText(seed);
    m_message->setMessage(QString());
    adjustSize();
    QDialog::show();
    raise();
    activateWindow();
    m_findWhat->setFocus();
    m_findWhat->selectAll();
}

SearchRequest QtFindDialog::request() const
{
    return { m_findWhat->text(), m_matchCase->isChecked(), m_wholeWords->isChecked(),
             m_regularExpression->isChecked() };
}

QString QtFindDialog::replaceWith() const { return m_replaceWith->text(); }

bool QtFindDialog::wrapAround() const { return m_wrapAround->isChecked(); }

bool QtFindDialog::up() const { return m_up->isChecked(); }

void QtFindDialog::setMessage(const QString &message) { m_message->setMessage(message); }
