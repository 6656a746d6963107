#include "platform/textfile.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace vestrel {

QByteArray ToSystemCodePage(const QString& text) {
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

QString FromSystemCodePage(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::System);
    return decoder.decode(bytes);
}

bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const bool written = file.write(bytes) == bytes.size();
    // close() flushes; a full disk shows up here, not in write().
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace vestrel
