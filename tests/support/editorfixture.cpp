#include "editorfixture.h"

#include "posixstatefolder.h"

#include <QDir>
#include <QTest>

EditorFixture::EditorFixture()
    : stateFolder(std::make_shared<PosixStateFolder>(stateHome.path())), files(stateFolder),
      window(messageBoxes), journal(*stateFolder, window.textBox()),
      form({ window, window.textBox(), dialog, clipboard, screen, messageBoxes, files,
             window.findDialog(), numberInput, journal })
{
}

QStringList EditorFixture::stateKept() const
{
    return QDir(stateHome.filePath(QStringLiteral("quorvex"))).entryList(QDir::Files);
}

void EditorFixture::start() { start(form.design()); }

void EditorFixture::start(const FormDesign &design)
{
    window.start(design);
    window.activateWindow();
    if (!QTest::qWaitForWindowExposed(&window))
        QTest::qFail("the window was not shown", __FILE__, __LINE__);
}
