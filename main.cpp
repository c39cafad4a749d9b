// The composition root: the one place that knows both the window class and the Qt platform.
#include "form1.h"
#include "qtcommondialog.h"
#include "qtform.h"
#include "qtsequentialfiles.h"
#include "qtservices.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvex"));
    QApplication::setOrganizationName(QStringLiteral("Quorvex"));

    QtMessageBoxes messageBoxes;
    QtClipboard clipboard;
    QtScreenPointer screen;
    QtSequentialFiles files;
    QtForm window(messageBoxes);
    QtCommonDialog commonDialog(&window);

    Form1 form({ window, window.textBox(), commonDialog, clipboard, screen, messageBoxes, files });
    window.start(form.design());
    return app.exec();
}
