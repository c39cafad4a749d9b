#pragma once

#include <QIcon>
#include <QString>

// What the desktop shows of the program: its icon, version and desktop entry.
namespace AppIdentity {

QIcon icon();
QString version();
QString desktopFileName();

// Call once, right after the QApplication is made.
void apply();

} // namespace AppIdentity
