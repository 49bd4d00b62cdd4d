#pragma once

// SIGTERM and SIGINT end the program the way closing it does: every running event loop
// (the main loop and any modal box) is left, then the windows and the data module close in
// their order, so the settings are saved and the log is closed. Needs the application object.
void InstallTerminationHandler();

// True once SIGTERM or SIGINT arrived; code about to start a modal loop checks it, because a
// loop started after the request would not see it.
bool TerminationRequested();
