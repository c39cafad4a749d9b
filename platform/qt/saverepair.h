#pragma once

#include <QStringList>

class StateFolder;

// Puts right the saves that were cut short by the end of a program (their records left in the
// state folder and held by no running program; see SaveIntent): a whole copy of the old
// contents beside a damaged file is put back; new contents written whole but never put in place
// are kept beside the file under a name of their own, "NAME (new).EXT"; partial temporary files
// and copies are removed. Gives one text for the user per save found, saying what was found and
// done; none when there was none. Never throws: what cannot be done is said.
QStringList repairInterruptedSaves(StateFolder &state);
