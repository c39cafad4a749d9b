#pragma once

#include <QAccessible>

// The accessibility factory for TextView, installed by the first view created.
QAccessibleInterface *accessibleTextView(const QString &className, QObject *object);
