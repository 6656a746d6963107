#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace vestrel {
namespace {

const QString kFolderName = QStringLiteral("vestrel");

QString& overrideFolder() {
    static QString folder;
    return folder;
}

QString XdgFolder(const QString& value, const QString& home, const QString& fallback) {
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home + QLatin1Char('/') + fallback);
}

LocationInputs InputsOfThisProcess() {
    LocationInputs inputs;
    inputs.executableFolder = QCoreApplication::applicationDirPath();
    inputs.executableFolderWritable = QFileInfo(inputs.executableFolder).isWritable();
#ifdef Q_OS_WIN
    // The user's local application data, for both files.
    inputs.home = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    inputs.xdgConfigHome = inputs.home;
    inputs.xdgStateHome = inputs.home;
#else
    inputs.home = QDir::homePath();
    inputs.xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    inputs.xdgStateHome = qEnvironmentVariable("XDG_STATE_HOME");
#endif
    return inputs;
}

} // namespace

ProgramLocations ChooseProgramLocations(const LocationInputs& inputs) {
    ProgramLocations locations;
    if (inputs.executableFolderWritable) {
        locations.settingsFolder = inputs.executableFolder;
        locations.logFolder = inputs.executableFolder;
        return locations;
    }
    locations.perUser = true;
    locations.settingsFolder =
        XdgFolder(inputs.xdgConfigHome, inputs.home, QStringLiteral(".config")) + u'/' +
        kFolderName;
    locations.logFolder =
        XdgFolder(inputs.xdgStateHome, inputs.home, QStringLiteral(".local/state")) + u'/' +
        kFolderName;
    return locations;
}

const ProgramLocations& Locations() {
    static const ProgramLocations locations = ChooseProgramLocations(InputsOfThisProcess());
    return locations;
}

void PrepareProgramFolders() {
    if (!overrideFolder().isEmpty() || !Locations().perUser)
        return;
    const ProgramLocations& locations = Locations();
    // Owner-only, as the XDG rules ask of these folders.
    const auto makeFolder = [](const QString& path) {
        if (QFileInfo::exists(path))
            return;
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
    };
    makeFolder(locations.settingsFolder);
    makeFolder(locations.logFolder);
    const QString mine = QDir(locations.settingsFolder).filePath(QStringLiteral("config.ini"));
    const QString shipped =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("config.ini"));
    if (!QFileInfo::exists(mine) && QFileInfo(shipped).isFile() && QFile::copy(shipped, mine))
        QFile::setPermissions(mine, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString ProgramFolder() {
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return Locations().settingsFolder;
}

QString LogFolder() {
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return Locations().logFolder;
}

void SetProgramFolder(const QString& folder) {
    overrideFolder() = folder;
}

QString ProgramFile(const QString& name) {
    return QDir(ProgramFolder()).filePath(name);
}

} // namespace vestrel
