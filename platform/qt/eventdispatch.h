#pragma once

#include <functional>

class MessageBoxes;

// Runs an event handler on behalf of the event loop. A failure that the handler does not trap
// is reported in a message box and the program goes on; nothing escapes into Qt.
void dispatchEvent(MessageBoxes &messageBoxes, const std::function<void()> &handler);
