#include "settings/settings.h"

#include "platform/error.h"
#include "platform/textfile.h"

#include <QRegularExpression>
#include <algorithm>

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

const QList<SettingEntry>& SettingsTable() {
    using Kind = SettingEntry::Kind;
    const QString connection = u"Connection String"_s;
    const QString advanced = u"Opzioni_Avanzate"_s;
    static const QList<SettingEntry> table = {
        {connection, u"Integrated Security"_s, Kind::Boolean, nullptr,
         &SettingsRecord::bIntegratedSecurity, u"0"_s, u"chkIntegrated"_s, 5},
        {connection, u"User ID"_s, Kind::Text, &SettingsRecord::sUserID, nullptr, QString(),
         u"txtUsr"_s, 3},
        {connection, u"Initial Catalog"_s, Kind::Text, &SettingsRecord::sInitialCatalog, nullptr,
         QString(), u"txtDBName"_s, 2},
        {connection, u"Data Source"_s, Kind::Text, &SettingsRecord::sDataSource, nullptr, QString(),
         u"txtSrv"_s, 1},
        {connection, u"Password"_s, Kind::Text, &SettingsRecord::sPassword, nullptr, QString(),
         u"txtPwd"_s, 4},
        {advanced, u"FileName"_s, Kind::Text, &SettingsRecord::sBackupFile, nullptr, QString(),
         u"TxtPath"_s, 6},
        {advanced, u"ARRAY_TEMPO"_s, Kind::HourFlags, nullptr, nullptr, QString(), u"CmdHour"_s, 7},
        {advanced, u"COPIE"_s, Kind::Text, &SettingsRecord::sCopies, nullptr, u"1"_s, QString(), 8},
    };
    return table;
}

void ApplyStoredText(const SettingEntry& entry, const QString& text, SettingsRecord& settings,
                     HourFlags& flags) {
    switch (entry.kind) {
    case SettingEntry::Kind::Text:
        settings.*entry.text = text;
        return;
    case SettingEntry::Kind::Boolean:
        settings.*entry.flag = TextToBoolean(text);
        return;
    case SettingEntry::Kind::HourFlags:
        DecodeHourFlags(text, flags);
        return;
    }
}

QString TooLongToKeep(const SettingEntry& entry, const QString& text) {
    if (entry.kind != SettingEntry::Kind::Text)
        return {};
    const qsizetype bytes = ToSystemCodePage(text).size();
    if (bytes <= kMaxSettingBytes)
        return {};
    return u"il valore di \"%1\" \u00e8 troppo lungo (%2 byte, al massimo %3)"_s.arg(entry.key)
        .arg(bytes)
        .arg(kMaxSettingBytes);
}

void CheckBackupFileName(const QString& file) {
    for (const SettingEntry& entry : SettingsTable())
        if (entry.text == &SettingsRecord::sBackupFile)
            if (const QString why = TooLongToKeep(entry, file); !why.isEmpty())
                throw Error(u"Nome del file di backup troppo lungo: %1; config.ini non potrebbe "
                            u"conservarlo intero. Scegliere un nome pi\u00f9 corto."_s.arg(why));
}

void LoadSettings(CIniFile& ini, SettingsRecord& settings, HourFlags& flags) {
    QList<const SettingEntry*> order;
    for (const SettingEntry& entry : SettingsTable())
        order.append(&entry);
    std::sort(order.begin(), order.end(), [](const SettingEntry* a, const SettingEntry* b) {
        return a->loadStep < b->loadStep;
    });
    for (const SettingEntry* entry : order)
        ApplyStoredText(*entry, ini.GetWholeValue(entry->section, entry->key, entry->defaultText),
                        settings, flags);
}

CIniFile oIni;
SettingsRecord Settings;
HourFlags ArrayTempo{};

} // namespace vestrel
