#pragma once

#include "platform/privateprofile.h"

#include <QString>
#include <QStringList>

namespace vestrel {

// Reads and writes one INI file through the private-profile functions. The object never opens
// or keeps the file: every operation is one call with the file's path, so a read sees what is on
// disk now and a write reaches the disk at once.
//
// Writing, deleting and enumerating first check that a file name is set and that the file exists
// (a hidden file does not count); otherwise they show a warning and do nothing else. GetValue
// never checks and never shows anything: a missing file simply yields the default.
//
// Enumerations number their entries from 1, as the callers expect: entry 0 of the list is an
// empty placeholder, entries 1 to iCount hold the names in file order. With no names the list
// is empty and iCount 0.
class CIniFile {
public:
    void IniFileName(const QString& sPath) { sIniPath = sPath; }
    QString IniFileName() const { return sIniPath; }

    // Result of the last write or delete: non-zero = success. Reads never change it.
    int LastReturnCode() const { return lLastCode; }
    bool Success() const { return lLastCode != 0; }
    // The last write or delete reached the file and failed (a failed check of the file does
    // not count: it has shown its own warning). Cleared by the next write or delete.
    bool WriteFailed() const { return bWriteFailed; }
    // Why, as the program tells the user: in Italian, without a full stop. A reason about the
    // value names the key when one is given.
    QString WriteErrorText(const QString& key = QString()) const;
    ProfileError LastError() const { return lastError_; }

    void DeleteKey(const QString& sSection, const QString& sKey);
    void DeleteSection(const QString& sSection);
    void EnumerateSection(const QString& sSection, QStringList& sKey, int& iCount);
    void EnumerateAllSections(QStringList& sSections, int& iCount);
    void SetValue(const QString& sSectionName, const QString& sKeyName, const QString& sValue);
    // At most 254 characters of the value, or sDefault when the key or the file is missing.
    QString GetValue(const QString& sSectionName, const QString& sKeyName, const QString& sDefault);
    // The whole value however long, or sDefault when the key or the file is missing.
    QString GetWholeValue(const QString& sSectionName, const QString& sKeyName,
                          const QString& sDefault);

private:
    QString ReadCurrentValue(unsigned size);
    void WriteCurrentValue(QString value);
    QByteArray ReadKeyList();
    QByteArray ReadSectionList();
    bool CheckIniFile() const;

    QString sIniPath;
    QString sCurKey;
    QString sCurSection;
    QString sCurDefault;
    int lLastCode = 0;
    bool bWriteFailed = false;
    ProfileError lastError_ = ProfileError::None;
    QString lastErrorDetail_;

    void NoteResult();
};

} // namespace vestrel
