#pragma once

#include "finddialog.h"
#include "formdesign.h"

#include <QDialog>
#include <QKeySequence>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class Notice;
class QPushButton;
class QRadioButton;

// The Find / Replace dialog: modeless, hidden (not destroyed) by Escape or Close, so that its
// fields stay for the next search.
class QtFindDialog : public QDialog, public FindDialog
{
    Q_OBJECT

public:
    explicit QtFindDialog(QWidget *parent = nullptr);

    // The design's events, run through the window's dispatcher.
    void applyDesign(const FindDialogDesign &design,
                     std::function<void(const std::function<void()> &)> dispatcher);

    void show(Mode mode, const QString &seed) override;
    bool isVisible() const override { return QDialog::isVisible(); }
    SearchRequest request() const override;
    QString replaceWith() const override;
    bool wrapAround() const override;
    bool up() const override;
    void setMessage(const QString &message) override;

private:
    QPushButton *button(const QString &name, const QString &caption);
    void raiseEvent(const std::function<void()> &handler);
    void connectKey(const QKeySequence &key, const std::function<void()> &handler);
    void connectEvent(QPushButton *button, const std::function<void()> &handler);

    QLineEdit *m_findWhat;
    QLabel *m_replaceLabel;
    QLineEdit *m_replaceWith;
    QCheckBox *m_matchCase;
    QCheckBox *m_wholeWords;
    QCheckBox *m_regularExpression;
    QCheckBox *m_wrapAround;
    QRadioButton *m_up;
    QRadioButton *m_down;
    QPushButton *m_findNext;
    QPushButton *m_replace;
    QPushButton *m_replaceAll;
    QPushButton *m_close;
    Notice *m_message;
    std::function<void(const std::function<void()> &)> m_dispatcher;
};
