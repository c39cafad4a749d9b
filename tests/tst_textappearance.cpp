// Edit > Text Appearance with a scripted font dialog and the real text box.
#include "editorfixture.h"

#include <QFontDatabase>
#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The seven values the command copies, in the order it copies them.
struct Appearance
{
    QString fontName;
    double fontSize;
    bool bold, italic, strikethru, underline;
    quint32 color;

    static Appearance of(const TextArea &t)
    {
        return { t.fontName(),       t.fontSize(),      t.fontBold(), t.fontItalic(),
                 t.fontStrikethru(), t.fontUnderline(), t.foreColor() };
    }
    static Appearance of(const CommonDialog &d)
    {
        return { d.fontName(),       d.fontSize(),      d.fontBold(), d.fontItalic(),
                 d.fontStrikethru(), d.fontUnderline(), d.color() };
    }
    void applyTo(TextArea &t) const
    {
        t.setFontName(fontName);
        t.setFontSize(fontSize);
        t.setFontBold(bold);
        t.setFontItalic(italic);
        t.setFontStrikethru(strikethru);
        t.setFontUnderline(underline);
        t.setForeColor(color);
    }
    void applyTo(CommonDialog &d) const
    {
        d.setFontName(fontName);
        d.setFontSize(float(fontSize));
        d.setFontBold(bold);
        d.setFontItalic(italic);
        d.setFontStrikethru(strikethru);
        d.setFontUnderline(underline);
        d.setColor(color);
    }
    bool operator==(const Appearance &) const = default;
};

char *toString(const Appearance &a)
{
    return qstrdup(u"%1 %2pt bold=%3 italic=%4 strike=%5 underline=%6 color=%7"_s.arg(a.fontName)
                       .arg(a.fontSize)
                       .arg(a.bold)
                       .arg(a.italic)
                       .arg(a.strikethru)
                       .arg(a.underline)
                       .arg(a.color, 6, 16, u'0')
                       .toUtf8()
                       .constData());
}

// Rows of the rendered text box that hold at least one pixel close to the colour.
QList<int> rowsShowing(QWidget &widget, const QColor &color)
{
    const QImage image = widget.grab().toImage();
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - color.red()) < 40 && qAbs(pixel.green() - color.green()) < 40
                && qAbs(pixel.blue() - color.blue()) < 40) {
                rows.append(y);
                break;
            }
        }
    }
    return rows;
}

// Bands of consecutive rows: one per line of text on screen.
int bands(const QList<int> &rows)
{
    int count = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i == 0 || rows.at(i) != rows.at(i - 1) + 1)
            ++count;
    }
    return count;
}

} // namespace

class TestTextAppearance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void valuesGoInAndComeBack();
    void cancelLeavesFontAndColour_data();
    void cancelLeavesFontAndColour();
    void startingAppearanceSurvivesCancel();
    void boldAndRedApplyToTheWholeText();
    void strikethroughOnThenOff();
    void fractionalSizeIsKept();
    void documentStateAndCaptionUntouched_data();
    void documentStateAndCaptionUntouched();

private:
    QString m_family;
    QString m_otherFamily;
};

void TestTextAppearance::initTestCase()
{
    const QStringList families = QFontDatabase::families();
    for (const QString &family : families) {
        if (QFontDatabase::isPrivateFamily(family))
            continue;
        if (m_family.isEmpty())
            m_family = family;
        else if (m_otherFamily.isEmpty())
            m_otherFamily = family;
    }
    if (m_otherFamily.isEmpty())
        QSKIP("fewer than two font families are installed");
}

void TestTextAppearance::valuesGoInAndComeBack()
{
    EditorFixture f;
    f.start();
    const Appearance start { m_family, 11.0, false, true, false, true, 0x00FF00 };
    start.applyTo(f.text());
    QCOMPARE(Appearance::of(f.text()), start);

    const Appearance chosen { m_otherFamily, 15.5, true, false, true, false, 0x123456 };
    Appearance seen {};
    f.dialog.onFont = [&](CommonDialog &dialog) {
        seen = Appearance::of(dialog);
        chosen.applyTo(dialog);
    };
    f.form.Edit_TextAppearence_Click();

    QCOMPARE(f.dialog.shows.size(), 1);
    QCOMPARE(f.dialog.shows.at(0).kind, u"font"_s);
    QCOMPARE(f.dialog.shows.at(0).flags, 257);
    QCOMPARE(seen, start);
    QCOMPARE(Appearance::of(f.text()), chosen);
    // The flags stay set for the next command that shows a dialog.
    QCOMPARE(f.dialog.flags(), 257);
}

void TestTextAppearance::cancelLeavesFontAndColour_data()
{
    QTest::addColumn<double>("size");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("strikethru");
    QTest::addColumn<quint32>("color");
    QTest::addRow("plain black") << 10.0 << false << false << 0x000000u;
    QTest::addRow("bold red") << 12.0 << true << false << 0x0000FFu;
    QTest::addRow("struck through, fractional, blue") << 9.5 << false << true << 0xFF0000u;
}

void TestTextAppearance::cancelLeavesFontAndColour()
{
    QFETCH(double, size);
    QFETCH(bool, bold);
    QFETCH(bool, strikethru);
    QFETCH(quint32, color);

    EditorFixture f;
    f.start();
    const Appearance start { m_family, size, bold, false, strikethru, false, color };
    start.applyTo(f.text());
    // A cancelled dialog changes none of its properties.
    f.dialog.onFont = [](CommonDialog &) {};
    f.form.Edit_TextAppearence_Click();
    QCOMPARE(f.dialog.shows.size(), 1);
    QCOMPARE(Appearance::of(f.text()), start);
}

void TestTextAppearance::startingAppearanceSurvivesCancel()
{
    // The platform's starting font must travel through the dialog's properties unharmed.
    EditorFixture f;
    f.start();
    const Appearance start = Appearance::of(f.text());
    QVERIFY(start.fontSize > 0);
    f.dialog.onFont = [](CommonDialog &) {};
    f.form.Edit_TextAppearence_Click();
    QCOMPARE(Appearance::of(f.text()), start);
    QCOMPARE(f.messageBoxes.calls.size(), 0); // no failure was reported
}

void TestTextAppearance::boldAndRedApplyToTheWholeText()
{
    EditorFixture f;
    f.start();
    f.text().setText(u"first line\r\nsecond line\r\nthird line"_s);
    const QColor red(255, 0, 0);
    QCOMPARE(bands(rowsShowing(f.text(), red)), 0);

    f.dialog.onFont = [](CommonDialog &dialog) {
        dialog.setFontBold(true);
        dialog.setColor(0x0000FF);
    };
    f.form.Edit_TextAppearence_Click();

    QVERIFY(f.text().fontBold());
    QCOMPARE(f.text().foreColor(), 0x0000FFu);
    // Every line is drawn red at once.
    QTRY_COMPARE(bands(rowsShowing(f.text(), red)), 3);
}

void TestTextAppearance::strikethroughOnThenOff()
{
    EditorFixture f;
    f.start();
    f.text().setText(u"struck"_s);
    bool strike = true;
    f.dialog.onFont = [&](CommonDialog &dialog) { dialog.setFontStrikethru(strike); };

    f.form.Edit_TextAppearence_Click();
    QVERIFY(f.text().fontStrikethru());
    QVERIFY(f.dialog.fontStrikethru()); // the dialog keeps what it was given

    strike = false;
    f.form.Edit_TextAppearence_Click();
    QVERIFY(!f.text().fontStrikethru());
    QCOMPARE(f.dialog.shows.size(), 2);
}

void TestTextAppearance::fractionalSizeIsKept()
{
    EditorFixture f;
    f.start();
    f.dialog.onFont = [](CommonDialog &dialog) { dialog.setFontSize(10.5f); };
    f.form.Edit_TextAppearence_Click();
    QCOMPARE(f.text().fontSize(), 10.5);

    // The next time the dialog is filled with the fraction, and a cancel keeps it.
    float seen = 0;
    f.dialog.onFont = [&](CommonDialog &dialog) { seen = dialog.fontSize(); };
    f.form.Edit_TextAppearence_Click();
    QCOMPARE(seen, 10.5f);
    QCOMPARE(f.text().fontSize(), 10.5);
}

void TestTextAppearance::documentStateAndCaptionUntouched_data()
{
    QTest::addColumn<bool>("typedFirst");
    QTest::addRow("clean document") << false;
    QTest::addRow("changed document") << true;
}

void TestTextAppearance::documentStateAndCaptionUntouched()
{
    QFETCH(bool, typedFirst);

    EditorFixture f;
    f.start();
    f.text().setText(u"some text"_s);
    if (typedFirst) {
        f.text().setFocus();
        QTest::keyClicks(&f.text(), u"x"_s);
    }
    QCOMPARE(f.form.textChanged(), typedFirst);
    const QString caption = f.window.caption();
    const QString text = f.text().text();

    f.dialog.onFont = [&](CommonDialog &dialog) {
        dialog.setFontName(m_otherFamily);
        dialog.setFontSize(20.0f);
        dialog.setFontItalic(true);
        dialog.setFontUnderline(true);
        dialog.setColor(0x808080);
    };
    f.form.Edit_TextAppearence_Click();

    QVERIFY(f.text().fontUnderline());
    QCOMPARE(f.form.textChanged(), typedFirst);
    QCOMPARE(f.window.caption(), caption);
    QCOMPARE(f.text().text(), text);
}

QTEST_MAIN(TestTextAppearance)
#include "tst_textappearance.moc"
