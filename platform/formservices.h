#pragma once

#include "commondialog.h"
#include "finddialog.h"
#include "recoveryjournal.h"
#include "sequentialfiles.h"
#include "services.h"
#include "textarea.h"
#include "window.h"

// Everything a window class reaches outside itself.
struct FormServices
{
    Window &window;
    TextArea &textBox;
    CommonDialog &commonDialog;
    Clipboard &clipboard;
    ScreenPointer &screen;
    MessageBoxes &messageBoxes;
    SequentialFiles &files;
    FindDialog &findDialog;
    NumberInput &numberInput;
    RecoveryJournal &journal;
};
