#include "app/mbackup.h"

#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/regional.h"
#include "platform/textfile.h"

namespace vestrel {

QString LogFilePath() {
    return ProgramFile(QStringLiteral("Command.log"));
}

bool WriteLog(const QString& text, QString* error) {
    const QString line = DateTimeText(Now()) + QLatin1String(" > ") + text + QLatin1String("\r\n");
    return AppendToFile(LogFilePath(), ToSystemCodePage(line), error);
}

CIniFile oIni;
SettingsRecord Settings;
HourFlags ArrayTempo{};

void LoadSettings() {
    LoadSettings(oIni, Settings, ArrayTempo);
}

} // namespace vestrel
