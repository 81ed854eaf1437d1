#pragma once
// The application's default error handler. Every command entry point (a button, a
// menu item, a socket-driven handler) runs its work through runCommand, so that an
// error nobody caught ends that command with a message box and the program goes on.
// Exceptions must never cross Qt's event dispatch.

#include <QString>
#include <functional>

namespace platform {

// Runs `work`. An exception escaping it is shown through prompts().error() with its
// text and swallowed. Returns true when `work` ended normally.
bool runCommand(const std::function<void()> &work);

// The text the default error handler shows for the exception in flight; for use
// inside a catch block only.
QString currentExceptionText();

} // namespace platform
