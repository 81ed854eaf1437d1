#pragma once
// The program's start-up: every window created once, in a fixed order, while the
// splash window reports progress.

class TfrmControlCentre;
class TfrmFront;

// Creates the control centre and, parented to it, every other window, calling
// `splash.DisplayInfo` before each step. The control centre owns them all.
TfrmControlCentre *CreateWindows(TfrmFront &splash);

// The whole program: splash, windows, event loop. Returns the exit code.
int RunQuorvel();
