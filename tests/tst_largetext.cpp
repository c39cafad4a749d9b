// A text of more than 2^31 characters: assistive tools, counting in int, see it up to where int
// reaches, with no wrong character, offset or crash beyond.
#include "qttextarea.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QTest>

#include <climits>

using namespace Qt::StringLiterals;

class TestLargeText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void assistiveToolsStopAtInt_data();
    void assistiveToolsStopAtInt();

private:
    QtTextArea *m_area = nullptr;
    QAccessibleTextInterface *m_text = nullptr;
};

// Lines of 16 characters, CR LF included, past the most an int counts.
void TestLargeText::initTestCase()
{
    m_area = new QtTextArea;
    QByteArray piece;
    for (int line = 0; piece.size() < (1 << 20); ++line)
        piece += "line " + QByteArray::number(line % 100000).rightJustified(9, '0') + "\r\n";
    m_area->beginLoad();
    while (m_area->textLength() <= qint64(INT_MAX) + 4096)
        m_area->appendLoaded(piece);
    m_area->keepLoaded();
    m_area->endLoad();
    QVERIFY(m_area->textLength() > qint64(INT_MAX));
    m_area->show();
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(m_area);
    QVERIFY(view);
    m_text = view->textInterface();
    QVERIFY(m_text);
}

void TestLargeText::assistiveToolsStopAtInt_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("boundary");
    QTest::addRow("a character well inside") << INT_MAX - 100 << int(QAccessible::CharBoundary);
    QTest::addRow("the last character an int reaches")
        << INT_MAX - 1 << int(QAccessible::CharBoundary);
    QTest::addRow("the line across the edge") << INT_MAX - 3 << int(QAccessible::LineBoundary);
    QTest::addRow("the word across the edge") << INT_MAX - 3 << int(QAccessible::WordBoundary);
}

// What a tool reads is the text at those offsets, cut at the edge; nothing comes after it.
void TestLargeText::assistiveToolsStopAtInt()
{
    QFETCH(int, offset);
    QFETCH(int, boundary);
    const auto type = QAccessible::TextBoundaryType(boundary);
    QCOMPARE(m_text->characterCount(), INT_MAX);
    int start = -1, end = -1;
    const QString unit = m_text->textAtOffset(offset, type, &start, &end);
    QVERIFY(start <= offset && offset < end);
    QCOMPARE(unit, m_area->buffer().mid(start, end - start));
    if (end == INT_MAX) {
        QCOMPARE(m_text->textAfterOffset(offset, type, &start, &end), QString());
        QCOMPARE(start, -1);
    }
    m_text->setCursorPosition(offset);
    QCOMPARE(m_text->cursorPosition(), offset);
    m_area->setSelection(m_area->textLength(), m_area->textLength());
    QCOMPARE(m_text->cursorPosition(), INT_MAX);
}

QTEST_MAIN(TestLargeText)
#include "tst_largetext.moc"
