#pragma once

#include <QString>

namespace vestrel {

// The folder that holds the executable: config.ini and Command.log live there.
QString ProgramFolder();

// Tests run the program's procedures in a folder of their own. An empty text goes back to
// the executable's folder.
void SetProgramFolder(const QString& folder);

// A file in the program folder.
QString ProgramFile(const QString& name);

} // namespace vestrel
