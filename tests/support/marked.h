#pragma once

#include "textarea.h"

// The text with the selection in brackets: "ab[cd]" has cd selected, "a[]b" the caret after a.
inline void setMarked(TextArea &area, QString text)
{
    const qsizetype start = text.indexOf(u'[');
    const qsizetype end = text.indexOf(u']') - 1;
    area.setText(text.remove(u'[').remove(u']'));
    area.setSelStart(start);
    area.setSelLength(end - start);
}

inline QString marked(const TextArea &area)
{
    return area.text()
        .insert(area.selStart() + area.selLength(), u']')
        .insert(area.selStart(), u'[');
}
