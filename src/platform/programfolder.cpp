#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace vestrel {
namespace {

#ifdef Q_OS_WIN
const QString kFolderName = QStringLiteral("Vestrel");
#else
const QString kFolderName = QStringLiteral("vestrel");
#endif

QString& overrideFolder() {
    static QString folder;
    return folder;
}

QString& logFolderOverride() {
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
    inputs.executableFolderWritable = CanWriteIn(inputs.executableFolder);
#ifdef Q_OS_WIN
    // The user's roaming application data (%APPDATA%), for both files.
    inputs.home = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    if (inputs.home.isEmpty())
        inputs.home = QDir::homePath() + QStringLiteral("/AppData/Roaming");
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

QString ProgramFolderName() {
    return kFolderName;
}

bool CanWriteIn(const QString& folder) {
#ifdef Q_OS_WIN
    // Without NTFS permission lookups Qt reads only the read-only attribute, which Windows
    // ignores on folders: Program Files would look writable to every user. Creating a file
    // asks the system itself.
    if (!QFileInfo(folder).isDir())
        return false;
    const QString probe =
        QDir(folder).filePath(QStringLiteral("~vestrel-%1.tmp").arg(GetCurrentProcessId()));
    const std::wstring name = QDir::toNativeSeparators(probe).toStdWString();
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
#else
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
#endif
}

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
            return false;
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
        return true;
    };
    const bool firstStart = makeFolder(locations.settingsFolder);
    makeFolder(locations.logFolder);
    const QString mine = QDir(locations.settingsFolder).filePath(QStringLiteral("config.ini"));
    const QString shipped =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("config.ini"));
    constexpr auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (QFileInfo::exists(mine))
        return;
    if (QFileInfo(shipped).isFile()) {
        if (QFile::copy(shipped, mine))
            QFile::setPermissions(mine, ownerOnly);
    } else if (firstStart) {
        // Nothing to start from: an empty config.ini, so the first "&Salva" has a file to
        // write to. Only when the folder is new: a config.ini the user removed later is
        // reported as missing, as everywhere else.
        QFile empty(mine);
        if (empty.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            empty.setPermissions(ownerOnly);
    }
}

QString ProgramFolder() {
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return Locations().settingsFolder;
}

QString LogFolder() {
    if (!logFolderOverride().isEmpty())
        return logFolderOverride();
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return Locations().logFolder;
}

void SetProgramFolder(const QString& folder) {
    overrideFolder() = folder;
}

void SetLogFolder(const QString& folder) {
    logFolderOverride() = folder;
}

QString ProgramFile(const QString& name) {
    return QDir(ProgramFolder()).filePath(name);
}

} // namespace vestrel
