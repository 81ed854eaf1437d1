#pragma once
// Window placement shared by the programs' windows.

class QWidget;

namespace platform {

// Moves `window` so that its frame is centred on the available area of its screen.
void centreOnScreen(QWidget *window);

} // namespace platform
