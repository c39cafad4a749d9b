#include "appidentity.h"
#include "quorvexversion.h"

#include <QGuiApplication>

namespace AppIdentity {

QIcon icon()
{
    QIcon result;
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        result.addFile(QStringLiteral(":/icons/quorvex-%1.png").arg(size), QSize(size, size));
    return result;
}

QString version() { return QStringLiteral(QUORVEX_DISPLAY_VERSION); }

QString desktopFileName() { return QStringLiteral("io.github.quorvex.Quorvex"); }

void apply()
{
    // Also the name assistive tools read for the application.
    QGuiApplication::setApplicationName(QStringLiteral("Quorvex"));
    QGuiApplication::setApplicationVersion(version());
    QGuiApplication::setWindowIcon(icon());
    // Lets Wayland compositors match the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(desktopFileName());
}

} // namespace AppIdentity
