#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

class CommonDialog;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QFontDialog;
class QGroupBox;
class QLineEdit;

// The font dialog of the common dialog: Qt's font chooser embedded without its buttons, and an
// effects group with strikethrough, underline and the text colour.
class FontDialog : public QDialog
{
    Q_OBJECT

public:
    // The standard colours, by name, in the order the colour list shows them.
    struct NamedColor
    {
        const char16_t *name;
        QRgb rgb;
    };
    static const QList<NamedColor> &standardColors();

    explicit FontDialog(QWidget *parent = nullptr);

    // Fills the dialog from the font, colour and flag properties.
    void readFrom(const CommonDialog &properties);
    // Stores the chosen font and colour back into the properties.
    void writeTo(CommonDialog &properties) const;

    void setEffectsShown(bool shown);
    bool effectsShown() const;

    void setSelectedFont(const QFont &font);
    QFont selectedFont() const;

    void setColor(const QColor &color);
    QColor color() const { return m_color; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onColorActivated(int index);
    void chooseCustomColor();
    void showColorInSample();
    void syncEffects();
    void hideBuiltInEffects();

    QFontDialog *m_fonts;
    QGroupBox *m_effects;
    QCheckBox *m_strikeOut;
    QCheckBox *m_underline;
    QComboBox *m_colors;
    QDialogButtonBox *m_buttons;
    QLineEdit *m_sample = nullptr; // the chooser's own sample, when it can be found
    QColor m_color = Qt::black;
    // The font the dialog was given, and what the chooser showed for it at first.
    QFont m_given;
    QFont m_shown;
};
