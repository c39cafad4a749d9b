#pragma once

#include "rope.h"

#include <QStringView>

// The cluster counts the storage's nodes carry (see rope::Clusters).
namespace rope {

// How a character stands towards cluster boundaries, as far as it is known without the full
// tables of the boundary finder; anything not listed for sure is Plain or Unsafe.
enum class CharKind : quint8 {
    Control, // a cluster starts before and after it (CR LF aside)
    Starter, // starts a cluster after anything but a control or a possible prefix
    Syllable, // a Hangul syllable: the same, but a leading jamo may precede it in its cluster
    Mark, // joins whatever precedes it but a control (of any kind, not only those above)
    Plain, // none of the above, but surely no prefix and no leading jamo
    Unsafe, // may be a prefix or a leading jamo
};
CharKind charKind(char32_t c);

// The clusters of a leaf's text in CR LF form, whose other counts are given.
Clusters leafClusters(const char *data, qint64 size, const Summary &sum);
// The clusters of a node over the two.
Clusters joinedClusters(const Node &left, const Node &right);

// The text as the boundary finder is to see it. Qt's finder tailors the clusters of a few
// scripts (Indic ones, Thai, Tibetan, Myanmar, Khmer) over whole runs of the script, so that
// where a cluster starts depends on text far before it, and splits even surrogate pairs, CR LF
// and flags that follow such letters. Their letters and marks are replaced by characters of the
// same kind under Unicode's default rules, which the finder follows for every other script.
QString untailored(QStringView text);

// Clusters of a text counted from its start, by the boundary finder on the text untailored.
qint64 graphemes(QStringView text);

} // namespace rope
