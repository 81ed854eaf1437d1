#pragma once
// The error the system raises for failures an operation cannot handle. Nothing
// catches it but the command wrapper (Command.h), which shows its text.

#include <QString>
#include <stdexcept>

namespace platform {

class Error : public std::runtime_error {
public:
    explicit Error(const QString &message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString &message() const noexcept { return message_; }

private:
    QString message_;
};

} // namespace platform
