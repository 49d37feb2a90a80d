#pragma once

// Start-up and shut-down of the designer, and the application-wide state
// every window may use.

#include <QString>

#include <memory>

class QApplication;
class cConnections;
class mdiMain;

// The application's connection registry: created and loaded at start-up,
// saved at the end. Null before start-up (and in tests that do not set it).
extern std::unique_ptr<cConnections> gConnections;
// True when the connections file exists but could not be read at start-up:
// the end then keeps the file as it is instead of writing an empty registry.
extern bool gConnectionsLoadFailed;
// Set by the splash window's first timer tick.
extern bool SplashDone;

// The help file the help commands open (set at start-up).
QString HelpFile();
void SetHelpFile(const QString& Path);

// The main window, null when none is open.
mdiMain* MainForm();

// Creates gConnections (with the designer's prompts) and loads it.
void LoadConnectionRegistry();

// Start-up: splash, help path, connection registry, main window. Returns
// the main window (owned by the caller), showing.
std::unique_ptr<mdiMain> Main();

// Saves the connection registry (unless it failed to load), releases it and
// ends the application's event loop. The main window calls it once it and
// its children have closed.
void EndApplication();

// Writes PNG pictures of the main window with its explorer bar, of the
// splash and of the About window into Folder. Returns 0 on success.
int WriteScreenshots(const QString& Folder);
