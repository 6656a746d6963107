#pragma once

#include <QStringList>

namespace vestrel::cli {

// True when the arguments ask for the command line rather than the window: any argument.
bool IsCommandLine(int argc, char* argv[]);

// The command line as a program: builds the core application (no display needed), runs the
// command and returns the exit status.
int Main(int argc, char* argv[]);

// Runs the command in the arguments (the program's name first) inside an existing core
// application; returns the exit status.
int Run(const QStringList& arguments);

} // namespace vestrel::cli
