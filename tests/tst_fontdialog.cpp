// Edit > Text Appearance with a scripted font dialog and the real text box; then the real font
// dialog, shown modally by the common dialog and driven through its controls.
#include "colorvalue.h"
#include "editorfixture.h"
#include "fontdialog.h"
#include "modal.h"
#include "qtcommondialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The seven values Text Appearance copies, in the order it copies them.
struct Appearance
{
    QString fontName;
    double fontSize = 0;
    bool bold = false, italic = false, strikethru = false, underline = false;
    quint32 color = 0;

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
    return QTest::toString(std::tuple(a.fontName, a.fontSize, a.bold, a.italic, a.strikethru,
                                      a.underline, QByteArray::number(a.color, 16)));
}

// The number of bands of consecutive pixel rows showing the colour: one per line of text.
int linesShowing(QWidget &widget, const QColor &color)
{
    const QImage image = widget.grab().toImage();
    int bands = 0;
    bool previous = false;
    for (int y = 0; y < image.height(); ++y) {
        bool shows = false;
        for (int x = 0; x < image.width() && !shows; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            shows = qAbs(pixel.red() - color.red()) < 40 && qAbs(pixel.green() - color.green()) < 40
                && qAbs(pixel.blue() - color.blue()) < 40;
        }
        bands += shows && !previous ? 1 : 0;
        previous = shows;
    }
    return bands;
}

} // namespace

class TestFontDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void textAppearanceCopiesValuesInAndBack();
    void realDialog_data();
    void realDialog();

private:
    QString m_family;
    QString m_otherFamily;
};

void TestFontDialog::initTestCase()
{
    // Two families that offer a bold style, so that a choice is visible in the properties.
    QStringList withBold;
    for (const QString &family : QFontDatabase::families()) {
        if (!QFontDatabase::isPrivateFamily(family)
            && QFontDatabase::styles(family).contains(u"Bold"_s))
            withBold.append(family);
    }
    if (withBold.size() < 2)
        QSKIP("fewer than two font families with a bold style are installed");
    m_family = withBold.at(0);
    m_otherFamily = withBold.at(1);
}

void TestFontDialog::textAppearanceCopiesValuesInAndBack()
{
    EditorFixture f;
    f.start();
    f.text().setText(u"first line\r\nsecond line\r\nthird line"_s);
    const QColor red(255, 0, 0);
    QCOMPARE(linesShowing(f.text(), red), 0);
    QVERIFY(!f.form.textChanged());
    const QString caption = f.window.caption();
    const QString text = f.text().text();

    // Values go into the dialog and back; a cancel changes nothing. Each effect goes on, off, on.
    const Appearance chosen { m_otherFamily, 15.5, true, false, true, false, 0x0000FF };
    const Appearance plain { m_family, 11.0, false, true, false, true, 0x563412 };
    Appearance shown = Appearance::of(f.text());
    QVERIFY(shown.fontSize > 0);
    for (const Appearance *answer : std::initializer_list<const Appearance *> {
             nullptr, &chosen, nullptr, &plain, nullptr, &chosen }) {
        Appearance seen {};
        f.dialog.onFont = [&](CommonDialog &dialog) {
            seen = Appearance::of(dialog);
            if (answer)
                answer->applyTo(dialog);
        };
        f.form.Edit_TextAppearence_Click();
        QCOMPARE(seen, shown);
        shown = answer ? *answer : shown;
        QCOMPARE(Appearance::of(f.text()), shown);
    }
    QCOMPARE(f.dialog.shows.last().flags, 257);
    QCOMPARE(f.messageBoxes.calls.size(), 0);
    QVERIFY(!f.form.textChanged()); // a new look is no change to the text
    QCOMPARE(f.window.caption(), caption);
    QCOMPARE(f.text().text(), text);
    // Every line is drawn in red.
    QTRY_COMPARE(linesShowing(f.text(), red), 3);
}

// What the user does in the dialog before closing it: Size and Font touch the effects too.
enum class Pick { Nothing, Effects, Size, Font, CustomColor, CustomCancelled };

void TestFontDialog::realDialog_data()
{
    QTest::addColumn<qint32>("flags");
    QTest::addColumn<bool>("installed"); // false: a family this machine does not have
    QTest::addColumn<quint32>("color");
    QTest::addColumn<Pick>("pick");
    QTest::addColumn<QString>("close"); // a key, or the name of the button clicked
    QTest::addColumn<QString>("entry"); // what the colour list shows
    const auto row
        = [](const char *name, Pick pick, const char *close = "ok", const char16_t *entry = u"Red",
             bool installed = true, quint32 color = 0x008000, qint32 flags = 257) {
              QTest::addRow("%s", name) << flags << installed << color << pick
                                        << QString::fromLatin1(close) << QString::fromUtf16(entry);
          };
    row("ok", Pick::Font);
    row("cancel", Pick::Font, "cancel");
    // The chooser is a dialog of its own: its keys must close this one, not just hide it.
    row("escape in the chooser cancels", Pick::Font, "Esc");
    row("return in the chooser accepts", Pick::Font, "Return");
    row("enter in the chooser accepts", Pick::Font, "Enter");
    // The chooser shows the family in effect instead, and only whole sizes, which OK must not
    // apply.
    row("missing family, fractional size, effects chosen", Pick::Effects, "ok", u"Red", false);
    row("missing family, size picked", Pick::Size, "ok", u"Red", false);
    row("missing family, another picked", Pick::Font, "ok", u"Red", false);
    // A colour without a name shows by its value; "Custom..." asks the colour dialog.
    row("other colour by its value", Pick::Nothing, "ok", u"#123456", true, 0x563412);
    row("custom colour chosen", Pick::CustomColor, "ok", u"#123456");
    row("custom colour cancelled", Pick::CustomCancelled, "ok", u"Green");
    // The effects and the colour list show only with their flag.
    row("screen fonts alone", Pick::Nothing, "ok", u"Red", true, 0x0000FF, 1);
}

void TestFontDialog::realDialog()
{
    QFETCH(qint32, flags);
    QFETCH(bool, installed);
    QFETCH(quint32, color);
    QFETCH(Pick, pick);
    QFETCH(QString, close);
    QFETCH(QString, entry);

    const QString family = installed ? m_family : u"Quorvex Missing Sans"_s;
    QVERIFY(QFontDatabase::families().contains(family) == installed);
    const Appearance start { family, 10.5, !installed, true, false, true, color };
    // The underline box keeps what it was given though a picked font has none; red sits in the
    // low byte.
    Appearance chosen
        = pick == Pick::Font ? Appearance { m_otherFamily, 14.0, true, false } : start;
    chosen.fontSize = pick == Pick::Size ? 14.0 : chosen.fontSize;
    if (pick == Pick::Effects || pick == Pick::Size || pick == Pick::Font)
        chosen = { chosen.fontName, chosen.fontSize, chosen.bold, chosen.italic, true, true, 0xFF };
    chosen.color = pick == Pick::CustomColor ? 0x563412 : chosen.color;

    const bool effects = flags & 256;
    bool closed = false, colorPlayed = false;
    const auto play = [&](FontDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), u"Font"_s);
        auto *chooser = dialog->findChild<QFontDialog *>(u"fontChooser"_s);
        auto *combo = dialog->findChild<QComboBox *>(u"color"_s);
        QVERIFY(chooser->isVisible());
        // A missing family shows and previews as the one the text is drawn in.
        const QString inEffect = installed ? m_family : QFontInfo(QFont(family)).family();
        QCOMPARE(chooser->currentFont().family(), inEffect);
        QCOMPARE(dialog->findChild<QGroupBox *>(u"effects"_s)->isVisible(), effects);
        QCOMPARE(combo->isVisible(), effects);
        // One strikethrough box and one underline box at most: the chooser's own stay hidden.
        int visibleBoxes = 0;
        for (const QCheckBox *box : dialog->findChildren<QCheckBox *>())
            visibleBoxes += box->isVisible() ? 1 : 0;
        QCOMPARE(visibleBoxes, effects ? 2 : 0);

        QFont shown
            = pick == Pick::Font ? QFont(m_otherFamily, 14, QFont::Bold) : chooser->currentFont();
        shown.setPointSize(pick == Pick::Size ? 14 : shown.pointSize());
        if (pick == Pick::Font || pick == Pick::Size)
            chooser->setCurrentFont(shown);
        if (chosen.strikethru) {
            QTest::mouseClick(dialog->findChild<QCheckBox *>(u"strikethrough"_s), Qt::LeftButton);
            QTest::keyClick(combo, 'R');
        }
        if (pick == Pick::CustomColor || pick == Pick::CustomCancelled) {
            whenShown<QColorDialog>(&colorPlayed, [&](QColorDialog *colors) {
                QCOMPARE(colors->objectName(), u"colorDialog"_s);
                colors->setCurrentColor(QColor(0x12, 0x34, 0x56));
                pick == Pick::CustomColor ? colors->accept() : colors->reject();
            });
            QTest::keyClick(combo, 'C'); // "Custom..."
            QVERIFY(colorPlayed);
        }
        QCOMPARE(combo->currentText(), entry);
        QCOMPARE(combo->count(), entry.startsWith(u'#') ? 18 : 17);
        QCOMPARE(combo->itemText(combo->count() - 1), u"Custom..."_s);
        // The sample must not shrink to nothing once the chooser's own effects are hidden.
        QList<QLineEdit *> sample; // the chooser's sample text: the line edit in one of its groups
        for (QGroupBox *group : chooser->findChildren<QGroupBox *>())
            sample += group->findChildren<QLineEdit *>();
        QCOMPARE(sample.size(), 1);
        QVERIFY(sample.first()->isVisible());
        QVERIFY(sample.first()->height() >= sample.first()->fontMetrics().height());
        if (pick == Pick::Nothing || pick == Pick::Effects)
            QCOMPARE(QFontInfo(sample.first()->font()).family(), inEffect);
        QCOMPARE(sample.first()->palette().color(QPalette::Text),
                 ColorValue::toColor(chosen.color));

        if (auto *button = dialog->findChild<QPushButton *>(close))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            QTest::keySequence(chooser->focusWidget() ? chooser->focusWidget() : chooser,
                               QKeySequence(close));
        closed = !dialog->isVisible();
    };
    QtCommonDialog common(nullptr);
    common.setFlags(flags);
    start.applyTo(common);
    bool played = false;
    whenShown<FontDialog>(&played, play);
    common.showFont();
    QVERIFY(played && closed);
    QCOMPARE(Appearance::of(common), close == u"cancel"_s || close == u"Esc"_s ? start : chosen);
}

QTEST_MAIN(TestFontDialog)
#include "tst_fontdialog.moc"
