#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace vestrel {
namespace {

QString& overrideFolder() {
    static QString folder;
    return folder;
}

} // namespace

QString ProgramFolder() {
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return QCoreApplication::applicationDirPath();
}

void SetProgramFolder(const QString& folder) {
    overrideFolder() = folder;
}

QString ProgramFile(const QString& name) {
    return QDir(ProgramFolder()).filePath(name);
}

} // namespace vestrel
