#pragma once

#include "failure.h"
#include "posixstatefolder.h"
#include "qtrecoveryjournal.h"
#include "form1.h"
#include "qtform.h"
#include "qtsequentialfiles.h"
#include "qtservices.h"
#include "scripted.h"

#include <QTemporaryDir>

// The real window, text box, clipboard and files, with scripted dialogs and message boxes.
// start() runs the same start-up as the program: build, load, show, resize.
struct EditorFixture
{
    EditorFixture();
    void start();
    void start(const FormDesign &design);

    ScriptedMessageBoxes messageBoxes;
    ScriptedDialog dialog;
    QtClipboard clipboard;
    QtScreenPointer screen;
    QtSequentialFiles files;
    ScriptedNumberInput numberInput;
    QtForm window;
    QTemporaryDir state; // each fixture starts with no journal left by an earlier one
    PosixStateFolder stateFolder;
    QtRecoveryJournal journal;
    Form1 form;

    QtTextArea &text() { return window.textBox(); }
};
