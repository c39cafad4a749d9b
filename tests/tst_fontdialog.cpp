// The font dialog as a person meets it: shown modally by the common dialog, driven through its
// controls, and read back through the common dialog's properties.
#include "fontdialog.h"
#include "qtcommondialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Runs `play` on the next modal dialog of type Dialog once it is on screen, and closes the dialog
// with Cancel should `play` leave it open. Sets *played when it ran.
template<typename Dialog>
void whenShown(bool *played, std::function<void(Dialog *)> play)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            if (++*tries > 1000)
                timer->deleteLater();
            return;
        }
        timer->stop();
        timer->deleteLater();
        *played = true;
        play(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    timer->start();
}

struct Properties
{
    QString fontName;
    float fontSize;
    bool bold, italic, strikethru, underline;
    quint32 color;

    static Properties of(const CommonDialog &d)
    {
        return { d.fontName(),       d.fontSize(),      d.fontBold(), d.fontItalic(),
                 d.fontStrikethru(), d.fontUnderline(), d.color() };
    }
    bool operator==(const Properties &) const = default;
};

char *toString(const Properties &p)
{
    return qstrdup(u"%1 %2pt bold=%3 italic=%4 strike=%5 underline=%6 color=%7"_s.arg(p.fontName)
                       .arg(p.fontSize)
                       .arg(p.bold)
                       .arg(p.italic)
                       .arg(p.strikethru)
                       .arg(p.underline)
                       .arg(p.color, 6, 16, u'0')
                       .toUtf8()
                       .constData());
}

void fill(CommonDialog &d, const QString &family, float size, quint32 color, qint32 flags = 257)
{
    d.setFlags(flags);
    d.setFontName(family);
    d.setFontSize(size);
    d.setFontBold(false);
    d.setFontItalic(false);
    d.setFontStrikethru(false);
    d.setFontUnderline(false);
    d.setColor(color);
}

template<typename T>
T *child(QWidget *dialog, const QString &name)
{
    return dialog->findChild<T *>(name);
}

// Chooses an entry of the colour list by typing its first letter, as a person would.
void typeIntoColorList(QWidget *dialog, const QString &letters)
{
    auto *combo = child<QComboBox>(dialog, u"color"_s);
    QVERIFY(combo);
    combo->setFocus();
    QTest::keyClicks(combo, letters);
}

} // namespace

class TestFontDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void acceptWritesEveryChoiceBack();
    void cancelKeepsEveryProperty();
    void keysInTheChooserCloseTheWholeDialog_data();
    void keysInTheChooserCloseTheWholeDialog();
    void effectsFollowTheFlags_data();
    void effectsFollowTheFlags();
    void sampleIsTallEnoughToRead();
    void colorListShowsTheGivenColor_data();
    void colorListShowsTheGivenColor();
    void customColorComesFromTheColorDialog();
    void cancelledCustomColorKeepsTheColor();
    void fractionalSizeSurvivesUnlessChanged();

private:
    QString m_family;
    QString m_otherFamily;
};

void TestFontDialog::initTestCase()
{
    // Two families that offer a bold style, so that a choice is visible in the properties.
    const QStringList families = QFontDatabase::families();
    QStringList withBold;
    for (const QString &family : families) {
        if (!QFontDatabase::isPrivateFamily(family)
            && QFontDatabase::styles(family).contains(u"Bold"_s))
            withBold.append(family);
    }
    if (withBold.size() < 2)
        QSKIP("fewer than two font families with a bold style are installed");
    m_family = withBold.at(0);
    m_otherFamily = withBold.at(1);
}

void TestFontDialog::acceptWritesEveryChoiceBack()
{
    QtCommonDialog common(nullptr);
    fill(common, m_family, 12.0f, 0x000000);
    bool played = false;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), u"Font"_s);
        auto *chooser = child<QFontDialog>(dialog, u"fontChooser"_s);
        QVERIFY(chooser);
        QVERIFY(chooser->isVisible());
        QCOMPARE(chooser->currentFont().family(), m_family);
        QFont font(m_otherFamily);
        font.setPointSize(14);
        font.setBold(true);
        chooser->setCurrentFont(font);
        QTest::mouseClick(child<QCheckBox>(dialog, u"strikethrough"_s), Qt::LeftButton);
        typeIntoColorList(dialog, u"R"_s);
        QTest::mouseClick(child<QPushButton>(dialog, u"ok"_s), Qt::LeftButton);
    });
    common.showFont();
    QVERIFY(played);

    QCOMPARE(common.fontName(), m_otherFamily);
    QCOMPARE(common.fontSize(), 14.0f);
    QVERIFY(common.fontBold());
    QVERIFY(!common.fontItalic());
    QVERIFY(common.fontStrikethru());
    QVERIFY(!common.fontUnderline());
    QCOMPARE(common.color(), 0x0000FFu); // red sits in the low byte
}

void TestFontDialog::cancelKeepsEveryProperty()
{
    QtCommonDialog common(nullptr);
    fill(common, m_family, 10.5f, 0x00FF00);
    common.setFontItalic(true);
    common.setFontUnderline(true);
    const Properties before = Properties::of(common);
    bool played = false;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        auto *chooser = child<QFontDialog>(dialog, u"fontChooser"_s);
        chooser->setCurrentFont(QFont(m_otherFamily, 20, QFont::Bold));
        QTest::mouseClick(child<QCheckBox>(dialog, u"strikethrough"_s), Qt::LeftButton);
        QTest::mouseClick(child<QCheckBox>(dialog, u"underline"_s), Qt::LeftButton);
        typeIntoColorList(dialog, u"B"_s);
        QTest::mouseClick(child<QPushButton>(dialog, u"cancel"_s), Qt::LeftButton);
    });
    common.showFont();
    QVERIFY(played);
    QCOMPARE(Properties::of(common), before);
}

void TestFontDialog::keysInTheChooserCloseTheWholeDialog_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("accepted");
    QTest::addRow("escape cancels") << int(Qt::Key_Escape) << false;
    QTest::addRow("return accepts") << int(Qt::Key_Return) << true;
    QTest::addRow("enter accepts") << int(Qt::Key_Enter) << true;
}

void TestFontDialog::keysInTheChooserCloseTheWholeDialog()
{
    // The chooser is a dialog of its own: its keys must close this one, not just hide it.
    QFETCH(int, key);
    QFETCH(bool, accepted);

    QtCommonDialog common(nullptr);
    fill(common, m_family, 12.0f, 0x000000);
    bool played = false;
    bool closed = false;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        auto *chooser = child<QFontDialog>(dialog, u"fontChooser"_s);
        chooser->setCurrentFont(QFont(m_otherFamily, 20));
        QWidget *inside = chooser->focusWidget() ? chooser->focusWidget() : chooser;
        QTest::keyClick(inside, Qt::Key(key));
        closed = !dialog->isVisible();
    });
    common.showFont();
    QVERIFY(played);
    QVERIFY(closed);
    QCOMPARE(common.fontName(), accepted ? m_otherFamily : m_family);
    QCOMPARE(common.fontSize(), accepted ? 20.0f : 12.0f);
}

void TestFontDialog::effectsFollowTheFlags_data()
{
    QTest::addColumn<qint32>("flags");
    QTest::addColumn<bool>("shown");
    QTest::addRow("screen fonts and effects") << 257 << true;
    QTest::addRow("screen fonts alone") << 1 << false;
    QTest::addRow("no flags") << 0 << false;
    QTest::addRow("effects among other flags") << (256 | 2 | 1) << true;
}

void TestFontDialog::effectsFollowTheFlags()
{
    QFETCH(qint32, flags);
    QFETCH(bool, shown);

    QtCommonDialog common(nullptr);
    fill(common, m_family, 12.0f, 0x000000, flags);
    bool played = false;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        QCOMPARE(child<QGroupBox>(dialog, u"effects"_s)->isVisible(), shown);
        QCOMPARE(child<QComboBox>(dialog, u"color"_s)->isVisible(), shown);
        // One strikethrough box and one underline box at most: the chooser's own stay hidden.
        int visibleBoxes = 0;
        const auto boxes = dialog->findChildren<QCheckBox *>();
        for (const QCheckBox *box : boxes)
            visibleBoxes += box->isVisible() ? 1 : 0;
        QCOMPARE(visibleBoxes, shown ? 2 : 0);
        QTest::mouseClick(child<QPushButton>(dialog, u"ok"_s), Qt::LeftButton);
    });
    common.showFont();
    QVERIFY(played);
    QCOMPARE(common.color(), 0x000000u);
}

void TestFontDialog::sampleIsTallEnoughToRead()
{
    QtCommonDialog common(nullptr);
    fill(common, m_family, 12.0f, 0x000000);
    bool played = false;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        const auto groups
            = child<QFontDialog>(dialog, u"fontChooser"_s)->findChildren<QGroupBox *>();
        int samples = 0;
        for (const QGroupBox *group : groups) {
            const auto edits = group->findChildren<QLineEdit *>();
            for (const QLineEdit *sample : edits) {
                ++samples;
                QVERIFY(sample->isVisible());
                QVERIFY2(sample->height() >= sample->fontMetrics().height(),
                         qPrintable(u"%1 pixels high"_s.arg(sample->height())));
            }
        }
        QCOMPARE(samples, 1);
    });
    common.showFont();
    QVERIFY(played);
}

void TestFontDialog::colorListShowsTheGivenColor_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QString>("entry");
    QTest::addRow("black") << 0x000000u << u"Black"_s;
    QTest::addRow("red") << 0x0000FFu << u"Red"_s;
    QTest::addRow("blue") << 0xFF0000u << u"Blue"_s;
    QTest::addRow("maroon") << 0x000080u << u"Maroon"_s;
    QTest::addRow("silver") << 0xC0C0C0u << u"Silver"_s;
    QTest::addRow("white") << 0xFFFFFFu << u"White"_s;
    QTest::addRow("other colour by its value") << 0x563412u << u"#123456"_s;
}

void TestFontDialog::colorListShowsTheGivenColor()
{
    QFETCH(quint32, value);
    QFETCH(QString, entry);

    QtCommonDialog common(nullptr);
    fill(common, m_family, 12.0f, value);
    FontDialog dialog;
    dialog.readFrom(common);
    auto *combo = child<QComboBox>(&dialog, u"color"_s);
    QCOMPARE(combo->currentText(), entry);
    QCOMPARE(combo->count(), entry.startsWith(u'#') ? 18 : 17);
    QCOMPARE(combo->itemText(combo->count() - 1), u"Custom..."_s);
    // The sample is drawn in the colour.
    const auto samples = child<QFontDialog>(&dialog, u"fontChooser"_s)->findChildren<QLineEdit *>();
    bool sampleInColor = false;
    for (const QLineEdit *sample : samples) {
        if (qobject_cast<QGroupBox *>(sample->parentWidget()))
            sampleInColor
                = sample->palette().color(QPalette::Text) == FontDialog::colorFromValue(value);
    }
    QVERIFY(sampleInColor);
    dialog.writeTo(common);
    QCOMPARE(common.color(), value);
}

void TestFontDialog::customColorComesFromTheColorDialog()
{
    QtCommonDialog common(nullptr);
    fill(common, m_family, 12.0f, 0x000000);
    bool played = false;
    bool colorPlayed = false;
    QString shownEntry;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        whenShown<QColorDialog>(&colorPlayed, [](QColorDialog *colors) {
            QCOMPARE(colors->objectName(), u"colorDialog"_s);
            colors->setCurrentColor(QColor(0x12, 0x34, 0x56));
            colors->accept();
        });
        typeIntoColorList(dialog, u"C"_s); // "Custom..."
        shownEntry = child<QComboBox>(dialog, u"color"_s)->currentText();
        QTest::mouseClick(child<QPushButton>(dialog, u"ok"_s), Qt::LeftButton);
    });
    common.showFont();
    QVERIFY(played);
    QVERIFY(colorPlayed);
    QCOMPARE(shownEntry, u"#123456"_s);
    QCOMPARE(common.color(), 0x563412u);
}

void TestFontDialog::cancelledCustomColorKeepsTheColor()
{
    QtCommonDialog common(nullptr);
    fill(common, m_family, 12.0f, 0x008000); // green
    bool played = false;
    bool colorPlayed = false;
    QString shownEntry;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        whenShown<QColorDialog>(&colorPlayed, [](QColorDialog *colors) {
            colors->setCurrentColor(QColor(0x12, 0x34, 0x56));
            colors->reject();
        });
        typeIntoColorList(dialog, u"C"_s);
        shownEntry = child<QComboBox>(dialog, u"color"_s)->currentText();
        QTest::mouseClick(child<QPushButton>(dialog, u"ok"_s), Qt::LeftButton);
    });
    common.showFont();
    QVERIFY(played);
    QVERIFY(colorPlayed);
    QCOMPARE(shownEntry, u"Green"_s);
    QCOMPARE(common.color(), 0x008000u);
}

void TestFontDialog::fractionalSizeSurvivesUnlessChanged()
{
    QtCommonDialog common(nullptr);
    fill(common, m_family, 10.5f, 0x000000);
    bool played = false;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        QTest::mouseClick(child<QCheckBox>(dialog, u"underline"_s), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(dialog, u"ok"_s), Qt::LeftButton);
    });
    common.showFont();
    QVERIFY(played);
    QCOMPARE(common.fontSize(), 10.5f);
    QVERIFY(common.fontUnderline());

    played = false;
    whenShown<FontDialog>(&played, [&](FontDialog *dialog) {
        auto *chooser = child<QFontDialog>(dialog, u"fontChooser"_s);
        QFont font = chooser->currentFont();
        font.setPointSize(16);
        chooser->setCurrentFont(font);
        QTest::mouseClick(child<QPushButton>(dialog, u"ok"_s), Qt::LeftButton);
    });
    common.showFont();
    QVERIFY(played);
    QCOMPARE(common.fontSize(), 16.0f);
    QVERIFY(common.fontUnderline()); // the effects the chooser was given stay with it
}

QTEST_MAIN(TestFontDialog)
#include "tst_fontdialog.moc"
