#include "editorfixture.h"

#include <QTest>

EditorFixture::EditorFixture()
    : window(messageBoxes),
      stateFolder(state.path()),
      journal(stateFolder, window.textBox()),
      form({ window, window.textBox(), dialog, clipboard, screen, messageBoxes, files,
              window.findDialog(), numberInput, journal })
{
}

void EditorFixture::start()
{
    start(form.design());
}

void EditorFixture::start(const FormDesign &design)
{
    window.start(design);
    window.activateWindow();
    if (!QTest::qWaitForWindowExposed(&window))
        QTest::qFail("the window was not shown", __FILE__, __LINE__);
}
