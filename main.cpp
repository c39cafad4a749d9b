// The composition root: the one place that knows both the window class and the Qt platform.
#include "appidentity.h"
#include "form1.h"
#include "hugepages.h"
#include "posixstatefolder.h"
#include "qtcommondialog.h"
#include "qtform.h"
#include "qtrecoveryjournal.h"
#include "qtsequentialfiles.h"
#include "qtservices.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    restartWithHugePages(argv);
    QApplication app(argc, argv);
    AppIdentity::apply();

    QtMessageBoxes messageBoxes;
    QtClipboard clipboard;
    QtScreenPointer screen;
    // The recovery journal and the records of saves under way share the program's state folder.
    const auto stateFolder = std::make_shared<PosixStateFolder>();
    QtSequentialFiles files(stateFolder);
    QtForm window(messageBoxes);
    QtCommonDialog commonDialog(&window);
    QtNumberInput numberInput;
    QtRecoveryJournal journal(*stateFolder, window.textBox());

    Form1 form({ window, window.textBox(), commonDialog, clipboard, screen, messageBoxes, files,
                 window.findDialog(), numberInput, journal });
    window.start(form.design());
    // For timing start-up from outside: end once the window has been shown.
    if (qEnvironmentVariableIsSet("QUORVEX_EXIT_AFTER_SHOW"))
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
