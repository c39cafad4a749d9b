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

    // The height inside the window left for its controls: below the menu bar, above the
    // status bar.
    virtual int clientHeight() const = 0;

    // A checkable menu item's mark. Choosing the item leaves the mark to its handler.
    virtual bool menuChecked(const QString &item) const = 0;
    virtual void setMenuChecked(const QString &item, bool checked) = 0;

    // The bar at the bottom of the window that tells where the caret stands.
    virtual bool statusBarVisible() const = 0;
    virtual void setStatusBarVisible(bool visible) = 0;
    // How the document's file stores its text, told in the status bar beside the caret's place.
    virtual void setStatusEncoding(const QString &name) = 0;

    // Ends the program at once: no further handler runs and nothing is asked.
    virtual void endProgram() = 0;
};
