#pragma once

#include "failure.h"
#include "form1.h"
#include "posixstatefolder.h"
#include "qtform.h"
#include "qtrecoveryjournal.h"
#include "qtsequentialfiles.h"
#include "qtservices.h"
#include "scripted.h"

#include <QTemporaryDir>

// The real window, text box, clipboard and files, with scripted dialogs and message boxes; start()
// runs the program's start-up, with a temporary state folder.
struct EditorFixture
{
    EditorFixture();
    void start();
    void start(const FormDesign &design);
    // The names of the files in the state folder.
    QStringList stateKept() const;

    ScriptedMessageBoxes messageBoxes;
    ScriptedDialog dialog;
    QtClipboard clipboard;
    QtScreenPointer screen;
    QTemporaryDir stateHome; // each fixture starts with nothing left by an earlier one
    std::shared_ptr<PosixStateFolder> stateFolder;
    QtSequentialFiles files;
    ScriptedNumberInput numberInput;
    QtForm window;
    QtRecoveryJournal journal;
    Form1 form;

    QtTextArea &text() { return window.textBox(); }
};
