#include "settings/cinifile.h"

#include "platform/messagebox.h"
#include "platform/privateprofile.h"
#include "platform/textfile.h"

#include <QFileInfo>

namespace vestrel {

namespace {

constexpr unsigned kValueBufferSize = 255;
constexpr unsigned kListBufferSize = 8192;

// Splits a NUL-separated list. A name counts only when a NUL follows it, so a default text
// behind the last NUL yields nothing. Empty names are kept unless skipEmpty is set.
void SplitList(const QByteArray& list, bool skipEmpty, QStringList& names, int& count) {
    qsizetype start = 0;
    qsizetype pos = list.indexOf('\0', start);
    while (pos >= 0) {
        if (!(skipEmpty && pos == start)) {
            ++count;
            if (names.isEmpty())
                names.append(QString()); // entry 0 stays unused
            names.append(FromSystemCodePage(list.sliced(start, pos - start)));
        }
        start = pos + 1;
        pos = list.indexOf('\0', start);
    }
}

} // namespace

void CIniFile::NoteResult() {
    bWriteFailed = lLastCode == 0;
    lastError_ = bWriteFailed ? PrivateProfileLastError() : ProfileError::None;
    lastErrorDetail_ = bWriteFailed ? PrivateProfileLastErrorDetail() : QString();
}

QString CIniFile::WriteErrorText(const QString& key) const {
    const QString theValue = key.isEmpty() ? QStringLiteral("il valore")
                                           : QStringLiteral("il valore di \"%1\"").arg(key);
    switch (lastError_) {
    case ProfileError::None:
        break;
    case ProfileError::InvalidName:
        return QStringLiteral("nome di sezione o di chiave non valido");
    case ProfileError::LineBreak:
        return theValue + QStringLiteral(" contiene un ritorno a capo");
    case ProfileError::InvalidText:
    case ProfileError::Unencodable:
        return theValue + QStringLiteral(" contiene caratteri che la codifica del file "
                                         "(Windows-1252) non pu\u00f2 rappresentare");
    case ProfileError::Unreadable:
        return QStringLiteral("il file non si pu\u00f2 leggere");
    case ProfileError::AccessDenied:
        return QStringLiteral("accesso negato");
    case ProfileError::NoFolder:
        return QStringLiteral("la cartella non esiste");
    case ProfileError::NotAFile:
        return QStringLiteral("il percorso non indica un file");
    case ProfileError::DiskFull:
        return QStringLiteral("spazio su disco esaurito");
    case ProfileError::WriteFailed:
        break;
    }
    return lastErrorDetail_.isEmpty()
               ? QStringLiteral("errore di scrittura")
               : QStringLiteral("errore di scrittura (%1)").arg(lastErrorDetail_);
}

void CIniFile::DeleteKey(const QString& sSection, const QString& sKey) {
    bWriteFailed = false;
    if (!CheckIniFile())
        return;
    sCurSection = sSection;
    sCurKey = sKey;
    lLastCode = WritePrivateProfileStringA(ToSystemCodePage(sCurSection).constData(),
                                           ToSystemCodePage(sCurKey).constData(), nullptr,
                                           ToSystemCodePage(sIniPath).constData());
    NoteResult();
}

void CIniFile::DeleteSection(const QString& sSection) {
    bWriteFailed = false;
    if (!CheckIniFile())
        return;
    sCurSection = sSection;
    lLastCode = WritePrivateProfileStringA(ToSystemCodePage(sCurSection).constData(), nullptr,
                                           nullptr, ToSystemCodePage(sIniPath).constData());
    NoteResult();
}

void CIniFile::EnumerateSection(const QString& sSection, QStringList& sKey, int& iCount) {
    if (!CheckIniFile())
        return;
    sCurSection = sSection;
    iCount = 0;
    sKey.clear();
    SplitList(ReadKeyList(), false, sKey, iCount);
}

void CIniFile::EnumerateAllSections(QStringList& sSections, int& iCount) {
    if (!CheckIniFile())
        return;
    iCount = 0;
    sSections.clear();
    SplitList(ReadSectionList(), true, sSections, iCount);
}

void CIniFile::SetValue(const QString& sSectionName, const QString& sKeyName,
                        const QString& sValue) {
    bWriteFailed = false;
    if (!CheckIniFile())
        return;
    sCurSection = sSectionName;
    sCurKey = sKeyName;
    WriteCurrentValue(sValue);
}

QString CIniFile::GetValue(const QString& sSectionName, const QString& sKeyName,
                           const QString& sDefault) {
    sCurSection = sSectionName;
    sCurKey = sKeyName;
    sCurDefault = sDefault;
    return ReadCurrentValue(kValueBufferSize);
}

QString CIniFile::GetWholeValue(const QString& sSectionName, const QString& sKeyName,
                                const QString& sDefault) {
    sCurSection = sSectionName;
    sCurKey = sKeyName;
    sCurDefault = sDefault;
    // A value that fills the buffer may have been cut: read again with a bigger one.
    for (unsigned size = kValueBufferSize;; size *= 4) {
        const QString value = ReadCurrentValue(size);
        if (unsigned(ToSystemCodePage(value).size()) + 1 < size || size >= kListBufferSize * 128)
            return value;
    }
}

QString CIniFile::ReadCurrentValue(unsigned size) {
    QByteArray buffer(size, ' ');
    const unsigned n = GetPrivateProfileStringA(
        ToSystemCodePage(sCurSection).constData(), ToSystemCodePage(sCurKey).constData(),
        ToSystemCodePage(sCurDefault).constData(), buffer.data(), size,
        ToSystemCodePage(sIniPath).constData());
    return FromSystemCodePage(buffer.first(n));
}

void CIniFile::WriteCurrentValue(QString value) {
    value.remove(QChar(u'\0'));
    lLastCode = WritePrivateProfileStringA(
        ToSystemCodePage(sCurSection).constData(), ToSystemCodePage(sCurKey).constData(),
        ToSystemCodePage(value).constData(), ToSystemCodePage(sIniPath).constData());
    NoteResult();
}

QByteArray CIniFile::ReadKeyList() {
    QByteArray buffer(kListBufferSize, '\0');
    const unsigned n =
        GetPrivateProfileStringA(ToSystemCodePage(sCurSection).constData(), nullptr,
                                 ToSystemCodePage(sCurDefault).constData(), buffer.data(),
                                 kListBufferSize, ToSystemCodePage(sIniPath).constData());
    return buffer.first(n);
}

QByteArray CIniFile::ReadSectionList() {
    sCurDefault.clear();
    QByteArray buffer(kListBufferSize, '\0');
    const unsigned n = GetPrivateProfileStringA(
        nullptr, nullptr, ToSystemCodePage(sCurDefault).constData(), buffer.data(), kListBufferSize,
        ToSystemCodePage(sIniPath).constData());
    return buffer.first(n);
}

bool CIniFile::CheckIniFile() const {
    if (sIniPath.isEmpty()) {
        MsgBox(QStringLiteral("Impostare prima la proprietà IniFileName."));
        return false;
    }
    // Only a plain file counts: folders and hidden files are not found.
    const QFileInfo info(sIniPath);
    if (!info.exists() || !info.isFile() || info.isHidden()) {
        MsgBox(QStringLiteral("File di informazioni di configurazione ") + sIniPath +
               QStringLiteral(" inesistente."));
        return false;
    }
    return true;
}

} // namespace vestrel
