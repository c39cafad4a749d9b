// The open and save dialogs shown for real and typed into: the name handed over is the one
// typed, whatever characters it holds.
#include "files.h"
#include "modal.h"
#include "qtcommondialog.h"

#include <QFileDialog>
#include <QLineEdit>

using namespace Qt::StringLiterals;

class TestFileDialog : public QObject, TestFolder
{
    Q_OBJECT

private Q_SLOTS:
    void init() { renew(); }
    void typedNameIsTakenWhole_data();
    void typedNameIsTakenWhole();
};

void TestFileDialog::typedNameIsTakenWhole_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("typed"); // a name in the test folder
    QTest::addRow("save, quotation mark inside") << true << u"q\"uote.txt"_s;
    QTest::addRow("open, quotation mark inside") << false << u"a\"b.txt"_s;
    QTest::addRow("open, quoted all round") << false << u"\"c.txt\""_s;
}

void TestFileDialog::typedNameIsTakenWhole()
{
    QFETCH(bool, save);
    QFETCH(QString, typed);
    // Each name Qt would split the typed text into exists too, and would be chosen instead.
    for (const QString &name : { u"a\"b.txt"_s, u"b.txt"_s, u"\"c.txt\""_s, u"c.txt"_s })
        writeBytes(path(name), "x");

    QtCommonDialog common(nullptr);
    common.setFilter(u"Text Documents (*.txt) | *.txt"_s);
    bool played = false;
    whenShown<QFileDialog>(&played, [&](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        QVERIFY(edit);
        edit->setFocus();
        edit->setText(path(typed));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    save ? common.showSave() : common.showOpen();
    QVERIFY(played);
    QCOMPARE(common.fileName(), path(typed));
}

QTEST_MAIN(TestFileDialog)
#include "tst_filedialog.moc"
