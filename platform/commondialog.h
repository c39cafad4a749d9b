#pragma once

#include <QString>
#include <QtGlobal>

// One instance serves the open, save and font commands; what one command sets stays set.
class CommonDialog
{
public:
    enum Flags : qint32 { ScreenFonts = 1, Effects = 256 };

    virtual ~CommonDialog() = default;

    // The full path chosen in a file dialog; empty when it was cancelled.
    QString fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    QString dialogTitle() const { return m_dialogTitle; }
    void setDialogTitle(const QString &title) { m_dialogTitle = title; }
    // Pairs of a description and a pattern, separated by vertical bars.
    QString filter() const { return m_filter; }
    void setFilter(const QString &filter) { m_filter = filter; }
    // Red in the low byte, then green, then blue.
    quint32 color() const { return m_color; }
    void setColor(quint32 color) { m_color = color; }
    qint32 flags() const { return m_flags; }
    void setFlags(qint32 flags) { m_flags = flags; }
    QString fontName() const { return m_fontName; }
    void setFontName(const QString &name) { m_fontName = name; }
    bool fontBold() const { return m_fontBold; }
    void setFontBold(bool on) { m_fontBold = on; }
    bool fontItalic() const { return m_fontItalic; }
    void setFontItalic(bool on) { m_fontItalic = on; }
    bool fontStrikethru() const { return m_fontStrikethru; }
    void setFontStrikethru(bool on) { m_fontStrikethru = on; }
    bool fontUnderline() const { return m_fontUnderline; }
    void setFontUnderline(bool on) { m_fontUnderline = on; }
    float fontSize() const { return m_fontSize; }
    void setFontSize(float points) { m_fontSize = points; }

    // Modal; the caller reads the properties when they return.
    virtual void showOpen() = 0;
    virtual void showSave() = 0;
    // A cancelled font dialog leaves the font and colour properties as they were.
    virtual void showFont() = 0;

private:
    QString m_fileName;
    QString m_dialogTitle;
    QString m_filter;
    quint32 m_color = 0;
    qint32 m_flags = 0;
    QString m_fontName;
    bool m_fontBold = false;
    bool m_fontItalic = false;
    bool m_fontStrikethru = false;
    bool m_fontUnderline = false;
    float m_fontSize = 8.0f;
};
