#pragma once

#include <QBasicTimer>
#include <QLabel>

class TextView;

// The status bar's text: where the caret stands in a text view, and how much is selected, in
// what the user sees as characters, both counted in O(log n) from the storage's counts. Where
// those cannot tell (long runs of marks or flags with no sure cluster start), a long selection is
// counted from its text a slice at a time between events, so a move never waits for it; its count
// shows once complete.
class CaretStatus : public QLabel
{
    Q_OBJECT

public:
    CaretStatus(const TextView &view, QWidget *parent = nullptr);

    // Follows the view's caret while shown.
    void follow();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void countSome();

    const TextView &m_view;
    QString m_place;
    // The selection being counted: its end, how far the count got and the clusters before that.
    qsizetype m_selectionEnd = 0;
    qsizetype m_reached = 0;
    qsizetype m_selected = 0;
    QBasicTimer m_counting;
};
