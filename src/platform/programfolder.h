#pragma once

#include <QString>

namespace vestrel {

// Where config.ini and Command.log live. Beside the executable when its folder is writable (a
// portable copy, a build), as always. A system-wide install cannot write there: then each
// user has folders of their own, config.ini in $XDG_CONFIG_HOME/vestrel (~/.config/vestrel)
// and Command.log in $XDG_STATE_HOME/vestrel (~/.local/state/vestrel); on Windows both in
// %APPDATA%\Vestrel.
struct ProgramLocations {
    QString settingsFolder; // config.ini
    QString logFolder;      // Command.log
    bool perUser = false;   // the user's own folders, not the executable's
};

// The environment the choice depends on.
struct LocationInputs {
    QString executableFolder;
    bool executableFolderWritable = false;
    QString home;          // $HOME
    QString xdgConfigHome; // $XDG_CONFIG_HOME, empty when unset
    QString xdgStateHome;  // $XDG_STATE_HOME, empty when unset
};

// "vestrel"; "Vestrel" on Windows.
QString ProgramFolderName();

// Whether this process may create files in the folder (on Windows: by creating one).
bool CanWriteIn(const QString& folder);

// The choice itself. XDG folders that are not absolute paths are ignored, as the XDG base
// directory rules say; the defaults are $HOME/.config and $HOME/.local/state.
ProgramLocations ChooseProgramLocations(const LocationInputs& inputs);

// This process's locations, chosen once from the executable's folder and the environment.
const ProgramLocations& Locations();

// Gets the user's own folders ready on the first start that uses them: creates them, and
// copies a config.ini that stands beside the executable when the user has none yet (owner-
// only: it holds a password), or else makes an empty one when the folder is new. Does nothing
// when the files live beside the executable.
void PrepareProgramFolders();

// The folder of config.ini: the program folder (one instance runs per program folder).
QString ProgramFolder();
// The folder of Command.log.
QString LogFolder();

// Tests run the program's procedures in a folder of their own, which then holds both files.
// An empty text goes back to the folders of the process.
void SetProgramFolder(const QString& folder);

// Command.log goes into this folder instead (a service's log folder); an empty text goes back
// to the usual one.
void SetLogFolder(const QString& folder);

// A file in the program folder.
QString ProgramFile(const QString& name);

} // namespace vestrel
