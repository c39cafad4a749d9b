#include "appidentity.h"

#include <QAccessible>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

class TestAppIdentity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void iconHasEachSize_data();
    void iconHasEachSize();
    void applyGivesTheApplicationItsIdentity();
};

void TestAppIdentity::iconHasEachSize_data()
{
    QTest::addColumn<int>("size");
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        QTest::addRow("%dx%d", size, size) << size;
}

// Each size is its own picture in the resources, not another size scaled, and keeps its
// transparency: the drawing's border runs from 4 to 6 of 32 units, the page's margin from 6 to 8.
void TestAppIdentity::iconHasEachSize()
{
    QFETCH(int, size);
    const QIcon icon = AppIdentity::icon();
    QVERIFY(icon.availableSizes().contains(QSize(size, size)));
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(image.size(), QSize(size, size));

    const QColor corner = image.pixelColor(0, 0);
    const QColor border = image.pixelColor(size * 5 / 32, size / 2);
    const QColor margin = image.pixelColor(size * 7 / 32, size / 2);
    QCOMPARE(corner.alpha(), 0);
    QCOMPARE(border.alpha(), 255);
    QVERIFY2(qGray(border.rgb()) < 100, qPrintable(border.name()));
    QVERIFY2(margin.alpha() > 200 && qGray(margin.rgb()) > 180, qPrintable(margin.name()));
}

void TestAppIdentity::applyGivesTheApplicationItsIdentity()
{
    AppIdentity::apply();
    // The project's version 1.0.0.0 reads "1.00" wherever people see it.
    QCOMPARE(QGuiApplication::applicationVersion(), u"1.00"_s);
    QCOMPARE(QAccessible::queryAccessibleInterface(qApp)->text(QAccessible::Name), u"Quorvex"_s);
    QCOMPARE(QGuiApplication::windowIcon().availableSizes().size(), 8);
    // Desktops find the entry, and so the icon, by this name.
    QCOMPARE(QGuiApplication::desktopFileName(), AppIdentity::desktopFileName());
    QVERIFY(QFile::exists(QStringLiteral(QUORVEX_RESOURCES_DIR) + u'/'
                          + AppIdentity::desktopFileName() + u".desktop"_s));
}

QTEST_MAIN(TestAppIdentity)
#include "tst_appidentity.moc"
