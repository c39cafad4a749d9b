#pragma once

#include "commondialog.h"

#include <QStringList>

class QWidget;

// The file and font dialogs, shown over the given window.
class QtCommonDialog : public CommonDialog
{
public:
    explicit QtCommonDialog(QWidget *parent);

    // "Description | pattern | ..." as Qt name filters.
    static QStringList nameFilters(const QString &filter);

    void showOpen() override;
    void showSave() override;
    void showFont() override;

private:
    void showFileDialog(bool save);

    QWidget *m_parent;
};
