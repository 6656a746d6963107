#include "support/fixtures.h"

#include "platform/programfolder.h"

#include <QFile>

namespace vestrel::test {

TempProgramFolder::TempProgramFolder() {
    SetProgramFolder(dir_.path());
}

TempProgramFolder::~TempProgramFolder() {
    SetProgramFolder(QString());
}

QByteArray TempProgramFolder::read(const QString& name) const {
    QFile file(this->file(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QList<QByteArray> TempProgramFolder::lines(const QString& name) const {
    QList<QByteArray> result = read(name).split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    for (QByteArray& line : result)
        if (line.endsWith('\r'))
            line.chop(1);
    return result;
}

QByteArray AfterStamp(const QByteArray& line) {
    const qsizetype at = line.indexOf(" > ");
    return at < 0 ? QByteArray() : line.mid(at + 3);
}

} // namespace vestrel::test
