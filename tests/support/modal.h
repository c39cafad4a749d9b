#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs `play` on the next modal dialog of type Dialog once it is on screen, and closes the dialog
// with Cancel should `play` leave it open. Sets *played when it ran.
template<typename Dialog>
void whenShown(bool *played, std::function<void(Dialog *)> play)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=, tries = 0]() mutable {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            if (++tries > 1000)
                timer->deleteLater();
            return;
        }
        timer->deleteLater();
        timer->stop();
        *played = true;
        play(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    timer->start();
}
