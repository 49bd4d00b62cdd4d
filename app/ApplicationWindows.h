#pragma once

// Creates the program's windows in their start-up order. The first window created is the
// application's main window: it is shown when the event loop starts, and closing it ends
// the program (the event loop is asked to quit), as does closing the main window.
void CreateApplicationWindows();

// Stops the worker threads that still run (a sign-in in progress) and waits for them, then
// destroys the windows; runs before the data module goes, so that the windows' own shutdown
// steps can still write to the log.
void DestroyApplicationWindows();
