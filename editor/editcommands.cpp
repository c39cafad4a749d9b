// The Edit menu: clipboard, selection and the text's appearance.
#include "form1.h"

void Form1::Edit_Copy_Click()
{
    ClipboardService.clear();
    if (Text1.selLength() > 0)
        ClipboardService.setText(Text1.selSnapshot());
}

void Form1::Edit_Cut_Click()
{
    ClipboardService.clear();
    if (Text1.selLength() > 0) {
        ClipboardService.setText(Text1.selSnapshot());
        Text1.setSelText(QString());
        TextChanged = true;
    }
}

void Form1::Edit_Paste_Click()
{
    Text1.setSelText(*ClipboardService.text());
    TextChanged = true;
}

void Form1::Edit_SelectAll_Click()
{
    Text1.setSelStart(0);
    Text1.setSelLength(Text1.textLength());
}

void Form1::Edit_TextAppearence_Click()
{
    CommonDialog1.setFlags(CommonDialog::ScreenFonts + CommonDialog::Effects);
    CommonDialog1.setFontName(Text1.fontName());
    CommonDialog1.setFontSize(float(Text1.fontSize()));
    CommonDialog1.setFontBold(Text1.fontBold());
    CommonDialog1.setFontItalic(Text1.fontItalic());
    CommonDialog1.setFontStrikethru(Text1.fontStrikethru());
    CommonDialog1.setFontUnderline(Text1.fontUnderline());
    CommonDialog1.setColor(Text1.foreColor());
    CommonDialog1.showFont();
    Text1.setFontName(CommonDialog1.fontName());
    Text1.setFontSize(CommonDialog1.fontSize());
    Text1.setFontBold(CommonDialog1.fontBold());
    Text1.setFontItalic(CommonDialog1.fontItalic());
    Text1.setFontStrikethru(CommonDialog1.fontStrikethru());
    Text1.setFontUnderline(CommonDialog1.fontUnderline());
    Text1.setForeColor(CommonDialog1.color());
}
