#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/gui/filedialog.h"
#include "platform/messagebox.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <exception>

namespace vestrel {

using namespace Qt::StringLiterals;

namespace {

// The check box state as the digit stored in the file: 0 unticked, 1 ticked, 2 greyed.
int StateDigit(Qt::CheckState state) {
    switch (state) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    case Qt::Unchecked:
        break;
    }
    return 0;
}

} // namespace

void FMain::connectSettingsHandlers() {
    connect(CmdSave, &QPushButton::clicked, this, &FMain::CmdSave_Click);
    connect(CmdLoad, &QPushButton::clicked, this, &FMain::CmdLoad_Click);
    connect(CmdDir, &QPushButton::clicked, this, &FMain::CmdDir_Click);
    // Every change of the state, by a click or by the program, goes through the same rule.
    connect(chkIntegrated, &QCheckBox::stateChanged, this, &FMain::chkIntegrated_Click);
    // The fields are single-line boxes: a pasted text keeps its first line only.
    for (const SettingEntry& entry : SettingsTable())
        if (entry.kind == SettingEntry::Kind::Text && entry.InWindow())
            if (auto* field = findChild<QLineEdit*>(entry.control))
                field->setValidator(new FirstLineOnly(field));
}

QString FMain::SettingText(const SettingEntry& entry) const {
    switch (entry.kind) {
    case SettingEntry::Kind::Text:
        return findChild<QLineEdit*>(entry.control)->text();
    case SettingEntry::Kind::Boolean:
        return QString::number(StateDigit(findChild<QCheckBox*>(entry.control)->checkState()));
    case SettingEntry::Kind::HourFlags:
        break;
    }
    // From the flags themselves, not from the button colours.
    return EncodeHourFlags(ArrayTempo);
}

void FMain::CopyFieldsToSettings() {
    for (const SettingEntry& entry : SettingsTable()) {
        if (!entry.InWindow())
            continue;
        if (entry.kind == SettingEntry::Kind::Text)
            Settings.*entry.text = SettingText(entry);
        else if (entry.kind == SettingEntry::Kind::Boolean)
            Settings.*entry.flag =
                findChild<QCheckBox*>(entry.control)->checkState() != Qt::Unchecked;
    }
}

void FMain::SaveSettings() {
    // Every key is written, in the table's order, also after a failure; the user hears of the
    // failures once, at the end. A missing file has said so on every write already.
    QStringList reasons;
    // A value the file could not give back whole is refused, and with it the whole save: no
    // setting is ever cut on its way through config.ini.
    for (const SettingEntry& entry : SettingsTable())
        if (entry.InWindow())
            if (const QString why = TooLongToKeep(entry, SettingText(entry)); !why.isEmpty())
                reasons.append(why);
    if (!reasons.isEmpty()) {
        MsgBox(u"Impossibile salvare le impostazioni nel file "_s + oIni.IniFileName() + u": "_s +
               reasons.join(u"; "_s) + u". Nessuna impostazione \u00e8 stata salvata."_s);
        return;
    }
    for (const SettingEntry& entry : SettingsTable()) {
        // What the window does not show stays in the file as the user wrote it.
        if (!entry.InWindow())
            continue;
        oIni.SetValue(entry.section, entry.key, SettingText(entry));
        if (!oIni.WriteFailed())
            continue;
        const QString reason = oIni.WriteErrorText(entry.key);
        if (!reasons.contains(reason))
            reasons.append(reason);
    }
    CopyFieldsToSettings();
    if (!reasons.isEmpty())
        MsgBox(u"Impossibile salvare le impostazioni nel file "_s + oIni.IniFileName() + u": "_s +
               reasons.join(u"; "_s) + u"."_s);
}

void FMain::ShowSettings() {
    for (const SettingEntry& entry : SettingsTable()) {
        if (!entry.InWindow())
            continue;
        switch (entry.kind) {
        case SettingEntry::Kind::HourFlags:
            for (int hour = 0; hour < 24; ++hour)
                CmdHour(hour)->setBackColor(ArrayTempo[size_t(hour)] ? Rgb(0x0000FF)
                                                                     : Rgb(0xFFFFFF));
            break;
        case SettingEntry::Kind::Boolean: {
            auto* box = findChild<QCheckBox*>(entry.control);
            const Qt::CheckState state = Settings.*entry.flag ? Qt::Checked : Qt::Unchecked;
            if (box->checkState() == state)
                chkIntegrated_Click(); // no change, no signal: the rule still holds afterwards
            else
                box->setCheckState(state);
            break;
        }
        case SettingEntry::Kind::Text:
            findChild<QLineEdit*>(entry.control)->setText(Settings.*entry.text);
            break;
        }
    }
}

void FMain::CmdSave_Click() {
    SaveSettings();
}

void FMain::CmdLoad_Click() {
    ShowSettings();
}

void FMain::CmdDir_Click() {
    FileDialogRequest request;
    request.title = u"Data File Name:"_s;
    request.filters = {{u"All Files (*.*)"_s, u"*.*"_s}, {u"Backup Files (*.bak)"_s, u"*.bak"_s}};
    request.selectedFilter = 1;
    request.defaultExtension = u"bak"_s;
    // Cancel and every failure of the dialog end here quietly: the text stays as it was.
    try {
        const std::optional<QString> chosen = FileDialogSeam().get().GetOpenFileName(request, this);
        if (chosen)
            TxtPath->setText(*chosen);
    } catch (const std::exception&) {
    }
}

void FMain::chkIntegrated_Click() {
    const bool ticked = chkIntegrated->checkState() == Qt::Checked;
    txtUsr->setEnabled(!ticked);
    txtPwd->setEnabled(!ticked);
}

} // namespace vestrel
