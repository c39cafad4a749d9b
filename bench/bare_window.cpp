// The yardstick for start-up time: an empty main window with a menu bar, started and ended
// the same way as the editor.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("&File"));
    window.menuBar()->addMenu(QStringLiteral("&Edit"));
    window.resize(921, 688);
    window.show();
    if (qEnvironmentVariableIsSet("QUORVEX_EXIT_AFTER_SHOW"))
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
