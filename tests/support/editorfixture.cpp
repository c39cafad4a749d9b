#include "editorfixture.h"

#include <QTest>

EditorFixture::EditorFixture()
    : window(messageBoxes),
      form({ window, window.textBox(), dialog, clipboard, screen, messageBoxes, files,
              window.findDialog(), numberInput })
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
