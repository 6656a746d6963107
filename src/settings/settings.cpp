#include "settings/settings.h"

#include "platform/error.h"

#include <QRegularExpression>

namespace vestrel {

using namespace Qt::StringLiterals;

QString EncodeHourFlags(const HourFlags& flags) {
    QString text;
    text.reserve(48);
    for (const bool on : flags)
        text += on ? u"1|"_s : u"0|"_s;
    return text;
}

void DecodeHourFlags(const QString& text, HourFlags& flags) {
    if (text.isEmpty())
        return;
    const QStringList pieces = text.split(u'|', Qt::KeepEmptyParts);
    const qsizetype count = std::min<qsizetype>(pieces.size(), qsizetype(flags.size()));
    for (qsizetype hour = 0; hour < count; ++hour)
        flags[size_t(hour)] = pieces[hour] != u"0"_s;
}

bool TextToBoolean(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(u"True"_s, Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(u"False"_s, Qt::CaseInsensitive) == 0)
        return false;
    static const QRegularExpression decimal(u"^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"_s);
    if (decimal.match(trimmed).hasMatch())
        return trimmed.toDouble() != 0.0;
    static const QRegularExpression based(u"^&([hHoO])([0-9A-Fa-f]+)$"_s);
    if (const QRegularExpressionMatch match = based.match(trimmed); match.hasMatch()) {
        const int base = match.captured(1).compare(u"h"_s, Qt::CaseInsensitive) == 0 ? 16 : 8;
        bool ok = false;
        const qulonglong value = match.captured(2).toULongLong(&ok, base);
        if (ok)
            return value != 0;
    }
    throw Error(u"Tipo non corrispondente"_s);
}

void LoadSettings(CIniFile& ini, SettingsRecord& settings, HourFlags& flags) {
    const QString connection = u"Connection String"_s;
    const QString advanced = u"Opzioni_Avanzate"_s;
    settings.sDataSource = ini.GetValue(connection, u"Data Source"_s, QString());
    settings.sInitialCatalog = ini.GetValue(connection, u"Initial Catalog"_s, QString());
    settings.sUserID = ini.GetValue(connection, u"User ID"_s, QString());
    settings.sPassword = ini.GetValue(connection, u"Password"_s, QString());
    settings.bIntegratedSecurity =
        TextToBoolean(ini.GetValue(connection, u"Integrated Security"_s, u"0"_s));
    settings.sBackupFile = ini.GetValue(advanced, u"FileName"_s, QString());
    DecodeHourFlags(ini.GetValue(advanced, u"ARRAY_TEMPO"_s, QString()), flags);
}

} // namespace vestrel
