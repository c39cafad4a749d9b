#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Lines of 12 to 16 short fields, as a spreadsheet export or a log, from a fixed seed. As a file:
// fields between commas, one of them quoted around a comma. As Open shows that file (opened):
// each field a line of its own, the quoted one without its marks.
inline QByteArray generatedFields(qint64 size, bool opened = false)
{
    static const char *const fields[]
        = { "alphabet", "4242",  "3.14159", "north", "2026-01-05", "okay", "x17",   "ember",
            "-8.25",    "river", "0.001",   "id-07", "copper",     "true", "12:30", "\"a,b\"" };
    QRandomGenerator random(11);
    QByteArray out;
    out.reserve(size + 256);
    while (out.size() < size) {
        const int count = 12 + int(random.bounded(5));
        for (int field = 0; field < count; ++field) {
            const QByteArray text = fields[random.bounded(16)];
            if (opened)
                out += (text.startsWith('"') ? text.sliced(1, text.size() - 2) : text) + "\r\n";
            else
                out += (field > 0 ? "," : "") + text;
        }
        if (!opened)
            out += "\r\n";
    }
    return out;
}
