#include "eventdispatch.h"

#include "failure.h"
#include "services.h"

#include <new>

using namespace Qt::StringLiterals;

void dispatchEvent(MessageBoxes &messageBoxes, const std::function<void()> &handler)
{
    if (!handler)
        return;
    int number = 0;
    QString description;
    try {
        handler();
        return;
    } catch (const Failure &failure) {
        number = failure.number();
        description = failure.description();
    } catch (const std::bad_alloc &) {
        number = FailureNumber::OutOfMemory;
        description = u"Out of memory."_s;
    } catch (const std::exception &error) {
        number = FailureNumber::InvalidProcedureCall;
        description = QString::fromLocal8Bit(error.what());
    }
    try {
        messageBoxes.msgBox(description, MessageBoxes::Critical, QString::number(number));
    } catch (...) {
        // Nothing more can be told; the program goes on.
    }
}
