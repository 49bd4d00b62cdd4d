#pragma once

// Creates the program's windows in their start-up order. The first window created is the
// application's main window: it is shown when the event loop starts, and closing it ends
// the program.
void CreateApplicationWindows();

// Destroys the windows again; runs before the data module goes, so that the windows' own
// shutdown steps can still write to the log.
void DestroyApplicationWindows();
