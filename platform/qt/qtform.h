#pragma once

#include "formdesign.h"
#include "qtfinddialog.h"
#include "qttextarea.h"
#include "window.h"

#include <QHash>
#include <QMainWindow>

class CaretStatus;
class MessageBoxes;
class QLabel;
class QProgressBar;
class QSessionManager;

// The main window: built from a window description, it raises the description's events
// through one dispatcher that reports any failure a handler leaves untrapped.
class QtForm : public QMainWindow, public Window
{
    Q_OBJECT

public:
    explicit QtForm(MessageBoxes &messageBoxes, QWidget *parent = nullptr);

    QtTextArea &textBox() { return *m_textBox; }
    QtFindDialog &findDialog() { return *m_findDialog; }

    // Builds the window, raises the load event, shows the window and raises the resize event.
    void start(const FormDesign &design);
    void build(const FormDesign &design);
    void dispatch(const std::function<void()> &handler);

    QString caption() const override;
    void setCaption(const QString &caption) override;
    int width() const override;
    int height() const override;
    int clientHeight() const override;
    bool menuChecked(const QString &item) const override;
    void setMenuChecked(const QString &item, bool checked) override;
    bool statusBarVisible() const override;
    void setStatusBarVisible(bool visible) override;
    void setStatusEncoding(const QString &name) override;
    void endProgram() override;

    bool hasEnded() const { return m_ended; }

    // The share of long work done, in a strip over the foot of the client area; hidden, the
    // window is exactly as it was.
    void showProgress(int percent);
    void hideProgress();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildMenus(const QList<MenuItemDesign> &menus);
    // Shrinks and moves the window, frame and all, into the screen's available area.
    void fitToScreen();
    // Asks the window's unload question; true when the window may go.
    bool mayClose();
    void commitData(QSessionManager &manager);

    MessageBoxes &m_messageBoxes;
    QWidget *m_client;
    QtTextArea *m_textBox;
    QtFindDialog *m_findDialog;
    // Made when first shown: until then the window is laid out as if there were none.
    CaretStatus *m_caretStatus = nullptr;
    QLabel *m_encoding = nullptr; // made with the status bar
    QString m_encodingName;
    QProgressBar *m_progress = nullptr; // made when first needed
    QHash<QString, QAction *> m_menuItems;
    std::function<void()> m_resize;
    std::function<void()> m_shown;
    std::function<void(qint16 &)> m_queryUnload;
    std::function<void(const QString &)> m_fileDrop;
    bool m_ended = false;
};
