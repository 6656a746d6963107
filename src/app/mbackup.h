#pragma once

#include "job/activitylog.h"
#include "settings/cinifile.h"
#include "settings/settings.h"

#include <QDateTime>
#include <QString>

namespace vestrel {

class FMain;

// A backup job is running. Set and cleared by the job, read by the timer and the buttons.
extern bool bBackupRunning;

// Start-up: refuses a second instance, checks for the SQL Server client, loads the settings,
// loads and shows the main window and writes the start banner. Returns false when start-up
// was refused and the process is to end; true when the window is shown.
bool Main();

// The orderly exit: the closing lines, then the window closes and the program ends. While a
// backup job runs, the exit waits for the job to end.
void ExitProgram();
// Runs an exit that waited for the job, once no job runs.
void RunPendingExit();

// The main window while the program runs (null before one exists). A window registers
// itself when it is created and leaves when it is destroyed.
FMain* MainWindow();
void SetMainWindow(FMain* window);
// Releases the main window and with it the tray icon; called when the event loop has ended.
void ReleaseMainWindow();

// Fills Settings and ArrayTempo from oIni; throws Error when "Integrated Security" is no Boolean.
void LoadSettings();

} // namespace vestrel
