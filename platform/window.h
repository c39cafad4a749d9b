#pragma once

#include <QString>

// The main window as the editor sees it. Sizes are in twips.
class Window
{
public:
    virtual ~Window() = default;

    virtual QString caption() const = 0;
    virtual void setCaption(const QString &caption) = 0;

    // The whole window: border, title bar and menu bar included.
    virtual int width() const = 0;
    virtual int height() const = 0;

    // Ends the program at once: no further handler runs and nothing is asked.
    virtual void endProgram() = 0;
};
