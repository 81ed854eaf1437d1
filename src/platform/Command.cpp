#include "platform/Command.h"

#include "platform/Error.h"
#include "platform/Prompts.h"

#include <exception>

namespace platform {

QString currentExceptionText()
{
    try {
        throw;
    } catch (const Error &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

bool runCommand(const std::function<void()> &work)
{
    try {
        work();
        return true;
    } catch (...) {
        const QString text = currentExceptionText();
        // Showing the box runs a nested event loop; an exception from it must not escape.
        try {
            prompts().error(text);
        } catch (...) {
        }
        return false;
    }
}

} // namespace platform
