#include "qtform.h"

#include "caretstatus.h"
#include "droppedfile.h"
#include "eventdispatch.h"
#include "twips.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

QtForm::QtForm(MessageBoxes &messageBoxes, QWidget *parent)
    : QMainWindow(parent), m_messageBoxes(messageBoxes), m_client(new QWidget(this)),
      m_textBox(new QtTextArea(m_client)), m_findDialog(new QtFindDialog(this))
{
    setCentralWidget(m_client);
    m_textBox->setDispatcher([this](const std::function<void()> &handler) { dispatch(handler); });
#if QT_CONFIG(sessionmanager)
    // Qt 6 sends no close event when the desktop session ends: ask here instead.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &QtForm::commitData,
            Qt::DirectConnection);
#endif
}

void QtForm::dispatch(const std::function<void()> &handler)
{
    dispatchEvent(m_messageBoxes, handler);
}

void QtForm::build(const FormDesign &design)
{
    setObjectName(design.name);
    setWindowTitle(design.caption);
    m_client->setObjectName(design.name + QStringLiteral("_client"));
    m_resize = design.resize;
    m_shown = design.shown;
    m_queryUnload = design.queryUnload;
    m_fileDrop = design.fileDrop;
    setAcceptDrops(bool(m_fileDrop));
    buildMenus(design.menus);
    m_textBox->applyDesign(design.textBox);
    m_findDialog->applyDesign(design.findDialog,
                              [this](const std::function<void()> &handler) { dispatch(handler); });
    resize(Twips::toPixelsX(this, design.clientWidth),
           Twips::toPixelsY(this, design.clientHeight) + menuBar()->sizeHint().height());
}

namespace {

// The platform's other keys for the same edit command (Ctrl+Insert, Shift+Insert, Shift+Delete
// and the like) go to the menu item too; otherwise the text box would run its own copy, cut or
// paste for them.
QList<QKeySequence> withAlternateKeys(const QKeySequence &shortcut)
{
    QList<QKeySequence> keys { shortcut };
    for (const auto standard :
         { QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::SelectAll }) {
        const QList<QKeySequence> bindings = QKeySequence::keyBindings(standard);
        if (!bindings.contains(shortcut))
            continue;
        for (const QKeySequence &binding : bindings) {
            if (!keys.contains(binding))
                keys.append(binding);
        }
    }
    return keys;
}

} // namespace

void QtForm::buildMenus(const QList<MenuItemDesign> &menus)
{
    QList<QKeySequence> shortcuts;
    QMenu *current = nullptr;
    for (const MenuItemDesign &item : menus) {
        if (item.level == 0) {
            current = menuBar()->addMenu(item.caption);
            current->setObjectName(item.name);
            current->menuAction()->setObjectName(item.name);
            continue;
        }
        if (!current)
            continue;
        QAction *action
            = item.isSeparator() ? current->addSeparator() : current->addAction(item.caption);
        action->setObjectName(item.name);
        m_menuItems.insert(item.name, action);
        action->setCheckable(item.checkable);
        if (!item.shortcut.isEmpty()) {
            const QList<QKeySequence> keys
                = withAlternateKeys(QKeySequence(item.shortcut, QKeySequence::PortableText));
            action->setShortcuts(keys);
            shortcuts.append(keys);
        }
        if (item.click) {
            const std::function<void()> click = item.click;
            connect(action, &QAction::triggered, this, [this, action, click] {
                // The handler sets the mark, as it sets any other property of the item.
                if (action->isCheckable())
                    action->setChecked(!action->isChecked());
                dispatch(click);
            });
        }
    }
    m_textBox->setMenuShortcuts(shortcuts);
}

void QtForm::start(const FormDesign &design)
{
    build(design);
    dispatch(design.load);
    fitToScreen();
    // The frame's size is known once the window manager has framed the window, by its first
    // exposure; the window is fitted again then, frame and all.
    winId();
    windowHandle()->installEventFilter(this);
    show();
    m_textBox->setFocus();
    dispatch(m_resize);
    // Once the window is on the screen, so that what the handler asks has it as its parent.
    if (m_shown)
        QTimer::singleShot(0, this, [this] { dispatch(m_shown); });
}

// A window description made for another screen, or a large scale factor, can make the window
// larger than the screen, with its bottom edge and scroll bar out of reach.
void QtForm::fitToScreen()
{
    const QRect available = screen()->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    const QSize fitted = size().boundedTo(available.size() - frame);
    if (fitted != size())
        resize(fitted);
    QRect outer = frameGeometry();
    if (!available.contains(outer)) {
        outer.moveRight(qMin(outer.right(), available.right()));
        outer.moveBottom(qMin(outer.bottom(), available.bottom()));
        outer.moveLeft(qMax(outer.left(), available.left()));
        outer.moveTop(qMax(outer.top(), available.top()));
        move(outer.topLeft());
    }
}

bool QtForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose
        && windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        fitToScreen();
    }
    return QMainWindow::eventFilter(watched, event);
}

// Files dragged over the text box come here too: it declines them.
void QtForm::dragEnterEvent(QDragEnterEvent *event) { dragMoveEvent(event); }

void QtForm::dragMoveEvent(QDragMoveEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

// The handler runs once the drop is over, so that the program the file came from is not kept
// waiting by the questions and the reading.
void QtForm::dropEvent(QDropEvent *event)
{
    const QString file = droppedFile(event->mimeData());
    if (file.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    QMetaObject::invokeMethod(
        this, [this, file] { dispatch([this, file] { m_fileDrop(file); }); }, Qt::QueuedConnection);
}

QString QtForm::caption() const { return windowTitle(); }

void QtForm::setCaption(const QString &caption) { setWindowTitle(caption); }

int QtForm::width() const { return Twips::fromPixelsX(this, frameGeometry().width()); }

int QtForm::height() const { return Twips::fromPixelsY(this, frameGeometry().height()); }

int QtForm::clientHeight() const { return Twips::fromPixelsY(this, m_client->height()); }

bool QtForm::menuChecked(const QString &item) const
{
    const QAction *action = m_menuItems.value(item);
    return action && action->isChecked();
}

void QtForm::setMenuChecked(const QString &item, bool checked)
{
    if (QAction *action = m_menuItems.value(item))
        action->setChecked(checked);
}

bool QtForm::statusBarVisible() const { return m_caretStatus && !statusBar()->isHidden(); }

void QtForm::setStatusBarVisible(bool visible)
{
    if (!m_caretStatus) {
        if (!visible)
            return;
        statusBar()->setObjectName(objectName() + QStringLiteral("_StatusBar"));
        m_caretStatus = new CaretStatus(*m_textBox);
        statusBar()->addWidget(m_caretStatus, 1);
        m_encoding = new QLabel(m_encodingName);
        m_encoding->setObjectName(objectName() + QStringLiteral("_Encoding"));
        statusBar()->addPermanentWidget(m_encoding);
    }
    statusBar()->setVisible(visible);
    // The client area gives the bar its room now, for the resize rule that follows.
    layout()->activate();
}

void QtForm::setStatusEncoding(const QString &name)
{
    m_encodingName = name;
    if (m_encoding)
        m_encoding->setText(name);
}

// Over the client area rather than in the layout: showing it resizes nothing, so no resize event
// reaches the handlers in the middle of the work.
void QtForm::showProgress(int percent)
{
    if (!m_progress) {
        m_progress = new QProgressBar(m_client);
        m_progress->setObjectName(objectName() + QStringLiteral("_Progress"));
        m_progress->setRange(0, 100);
        // Opaque, so that its repaints leave the text box beneath alone.
        m_progress->setAutoFillBackground(true);
    }
    const int height = m_progress->sizeHint().height();
    m_progress->setGeometry(0, m_client->height() - height, m_client->width(), height);
    if (m_progress->isHidden()) {
        m_progress->raise();
        m_progress->show();
    }
    m_progress->setValue(percent);
}

void QtForm::hideProgress()
{
    if (m_progress)
        m_progress->hide();
}

void QtForm::endProgram()
{
    m_ended = true;
    close();
    QCoreApplication::exit(0);
}

bool QtForm::mayClose()
{
    if (m_ended || !m_queryUnload)
        return true;
    qint16 cancel = 0;
    dispatch([&] { m_queryUnload(cancel); });
    return cancel == 0;
}

void QtForm::closeEvent(QCloseEvent *event)
{
    if (!mayClose()) {
        event->ignore();
        return;
    }
    m_ended = true;
    event->accept();
}

void QtForm::commitData(QSessionManager &manager)
{
#if QT_CONFIG(sessionmanager)
    // Without leave to interact nothing can be asked; the session goes on as it would.
    if (m_ended || !manager.allowsInteraction())
        return;
    const bool mayEnd = mayClose();
    manager.release();
    if (!mayEnd) {
        manager.cancel();
        return;
    }
    // The user agreed to lose the changes: end now, so that nothing asks again.
    endProgram();
#else
    Q_UNUSED(manager);
#endif
}

void QtForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (isVisible())
        dispatch(m_resize);
}

void QtForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isVisible())
        dispatch(m_resize);
}
