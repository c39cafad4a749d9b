#include "fontdialog.h"

#include "colorvalue.h"

#include "commondialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// The colour list's entry that opens the colour dialog carries no colour.
constexpr int ColorRole = Qt::UserRole;

QIcon swatch(const QColor &color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

} // namespace

const QList<FontDialog::NamedColor> &FontDialog::standardColors()
{
    static const QList<NamedColor> colors = {
        { u"Black", 0xff000000 }, { u"Maroon", 0xff800000 },  { u"Green", 0xff008000 },
        { u"Olive", 0xff808000 }, { u"Navy", 0xff000080 },    { u"Purple", 0xff800080 },
        { u"Teal", 0xff008080 },  { u"Gray", 0xff808080 },    { u"Silver", 0xffc0c0c0 },
        { u"Red", 0xffff0000 },   { u"Lime", 0xff00ff00 },    { u"Yellow", 0xffffff00 },
        { u"Blue", 0xff0000ff },  { u"Fuchsia", 0xffff00ff }, { u"Aqua", 0xff00ffff },
        { u"White", 0xffffffff },
    };
    return colors;
}

FontDialog::FontDialog(QWidget *parent)
    : QDialog(parent), m_fonts(new QFontDialog(this)), m_effects(new QGroupBox(u"Effects"_s, this)),
      m_strikeOut(new QCheckBox(u"Stri&kethrough"_s, m_effects)),
      m_underline(new QCheckBox(u"&Underline"_s, m_effects)), m_colors(new QComboBox(m_effects)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName(u"fontDialog"_s);
    setWindowTitle(u"Font"_s);

    m_fonts->setObjectName(u"fontChooser"_s);
    m_fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    m_fonts->setWindowFlags(Qt::Widget);
    m_fonts->setSizeGripEnabled(false);
    m_fonts->installEventFilter(this);
    hideBuiltInEffects();

    m_effects->setObjectName(u"effects"_s);
    m_strikeOut->setObjectName(u"strikethrough"_s);
    m_underline->setObjectName(u"underline"_s);
    m_colors->setObjectName(u"color"_s);
    for (const NamedColor &named : standardColors()) {
        const QColor color = QColor::fromRgb(named.rgb);
        m_colors->addItem(swatch(color), QString::fromUtf16(named.name), color);
    }
    m_colors->addItem(u"Custom..."_s);
    auto *colorLabel = new QLabel(u"&Color:"_s, m_effects);
    colorLabel->setObjectName(u"colorLabel"_s);
    colorLabel->setBuddy(m_colors);

    auto *effectsLayout = new QHBoxLayout(m_effects);
    effectsLayout->addWidget(m_strikeOut);
    effectsLayout->addWidget(m_underline);
    effectsLayout->addStretch();
    effectsLayout->addWidget(colorLabel);
    effectsLayout->addWidget(m_colors);

    m_buttons->setObjectName(u"buttons"_s);
    m_buttons->button(QDialogButtonBox::Ok)->setObjectName(u"ok"_s);
    m_buttons->button(QDialogButtonBox::Cancel)->setObjectName(u"cancel"_s);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_fonts);
    layout->addWidget(m_effects);
    layout->addWidget(m_buttons);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_strikeOut, &QCheckBox::toggled, this, &FontDialog::syncEffects);
    connect(m_underline, &QCheckBox::toggled, this, &FontDialog::syncEffects);
    connect(m_colors, &QComboBox::activated, this, &FontDialog::onColorActivated);
    // Should the chooser close itself all the same, the whole dialog closes with it.
    connect(m_fonts, &QDialog::finished, this, [this](int result) {
        if (isVisible())
            done(result);
    });
    setColor(m_color);
}

// The chooser brings strikeout and underline boxes of its own; the effects group replaces them
// so that they can be hidden together with the colour.
void FontDialog::hideBuiltInEffects()
{
    const auto groups = m_fonts->findChildren<QGroupBox *>();
    for (QGroupBox *group : groups) {
        if (!group->findChildren<QCheckBox *>().isEmpty())
            group->hide();
    }
    // The sample shared its row with them and would shrink to nothing on its own.
    for (QGroupBox *group : groups) {
        const auto samples = group->findChildren<QLineEdit *>();
        for (QLineEdit *sample : samples) {
            sample->setMinimumHeight(4 * sample->fontMetrics().height());
            m_sample = sample;
        }
    }
}

bool FontDialog::eventFilter(QObject *watched, QEvent *event)
{
    // The chooser is a dialog too: Escape and Enter must close this one, not hide the chooser.
    if (watched == m_fonts && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Cancel)) {
            reject();
            return true;
        }
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FontDialog::setEffectsShown(bool shown) { m_effects->setVisible(shown); }

bool FontDialog::effectsShown() const { return !m_effects->isHidden(); }

void FontDialog::setSelectedFont(const QFont &font)
{
    m_given = font;
    if (font.pointSizeF() <= 0)
        m_given.setPointSizeF(QFontInfo(font).pointSizeF());
    // A family that is not installed is drawn in another, which the chooser shows instead of
    // one of its own choosing.
    QFont shown = font;
    shown.setFamily(QFontInfo(font).family());
    m_fonts->setCurrentFont(shown);
    m_shown = m_fonts->currentFont();
    const QSignalBlocker blockStrikeOut(m_strikeOut);
    const QSignalBlocker blockUnderline(m_underline);
    m_strikeOut->setChecked(font.strikeOut());
    m_underline->setChecked(font.underline());
}

// The chooser shows the family in effect for one that is not installed, and only whole sizes:
// what it shows in their place is applied only when the user picks something else.
QFont FontDialog::selectedFont() const
{
    const QFont current = m_fonts->currentFont();
    QFont font = m_given;
    if (current.family() != m_shown.family())
        font.setFamily(current.family());
    if (current.weight() != m_shown.weight() || current.italic() != m_shown.italic()) {
        font.setWeight(current.weight());
        font.setItalic(current.italic());
    }
    if (current.pointSizeF() != m_shown.pointSizeF())
        font.setPointSizeF(current.pointSizeF());
    font.setStrikeOut(m_strikeOut->isChecked());
    font.setUnderline(m_underline->isChecked());
    return font;
}

void FontDialog::syncEffects()
{
    // Keeps the chooser's sample showing the effects.
    QFont font = m_fonts->currentFont();
    font.setStrikeOut(m_strikeOut->isChecked());
    font.setUnderline(m_underline->isChecked());
    m_fonts->setCurrentFont(font);
}

void FontDialog::setColor(const QColor &color)
{
    m_color = color.toRgb();
    showColorInSample();
    const int standard = m_colors->findData(m_color, ColorRole);
    const int customEntry = m_colors->count() - 1;
    // A colour outside the standard ones gets an entry of its own before "Custom...".
    const bool hasOtherEntry = customEntry > standardColors().size();
    if (standard >= 0 && standard < standardColors().size()) {
        if (hasOtherEntry)
            m_colors->removeItem(standardColors().size());
        m_colors->setCurrentIndex(m_colors->findData(m_color, ColorRole));
        return;
    }
    const QString name = m_color.name(QColor::HexRgb).toUpper();
    if (hasOtherEntry) {
        m_colors->setItemText(standardColors().size(), name);
        m_colors->setItemIcon(standardColors().size(), swatch(m_color));
        m_colors->setItemData(standardColors().size(), m_color, ColorRole);
    } else {
        m_colors->insertItem(standardColors().size(), swatch(m_color), name, m_color);
    }
    m_colors->setCurrentIndex(standardColors().size());
}

void FontDialog::onColorActivated(int index)
{
    const QVariant data = m_colors->itemData(index, ColorRole);
    if (data.isValid()) {
        m_color = data.value<QColor>();
        showColorInSample();
    } else {
        chooseCustomColor();
    }
}

void FontDialog::showColorInSample()
{
    if (!m_sample)
        return;
    QPalette colors = m_sample->palette();
    colors.setColor(QPalette::Text, m_color);
    m_sample->setPalette(colors);
}

void FontDialog::chooseCustomColor()
{
    QColorDialog dialog(m_color, this);
    dialog.setObjectName(u"colorDialog"_s);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    const bool chosen = dialog.exec() == QDialog::Accepted;
    // A cancelled choice puts the list back on the colour it had.
    setColor(chosen ? dialog.selectedColor() : m_color);
}

void FontDialog::readFrom(const CommonDialog &properties)
{
    QFont font;
    if (!properties.fontName().isEmpty())
        font.setFamily(properties.fontName());
    if (properties.fontSize() > 0)
        font.setPointSizeF(properties.fontSize());
    font.setBold(properties.fontBold());
    font.setItalic(properties.fontItalic());
    font.setStrikeOut(properties.fontStrikethru());
    font.setUnderline(properties.fontUnderline());
    setSelectedFont(font);
    setColor(ColorValue::toColor(properties.color()));
    setEffectsShown(properties.flags() & CommonDialog::Effects);
}

void FontDialog::writeTo(CommonDialog &properties) const
{
    const QFont font = selectedFont();
    properties.setFontName(font.family());
    properties.setFontSize(float(font.pointSizeF()));
    properties.setFontBold(font.bold());
    properties.setFontItalic(font.italic());
    properties.setFontStrikethru(font.strikeOut());
    properties.setFontUnderline(font.underline());
    properties.setColor(ColorValue::fromColor(m_color));
}
